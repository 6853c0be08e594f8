#include "curvature/mesh.h"

#include <cmath>

#include "curvature/vector_steps.h"

namespace bl {
namespace {

struct Triangle {
    const Vector* a;
    const Vector* b;
    const Vector* c;
};

// Asks the renderer for the current triangle's vertex normals ('n') or
// positions ('p'). A failed call, or one that leaves any pointer unset, gives
// nothing to read. The vectors may live in the renderer's scratch space, so
// each answer is used up before the next call.
bool fetch_triangle(RenderState& state, int which, Triangle& out) {
    Vector* a = nullptr;
    Vector* b = nullptr;
    Vector* c = nullptr;
    const Boolean found = mi_tri_vectors(&state, which, 1, &a, &b, &c);
    if (!found || a == nullptr || b == nullptr || c == nullptr) {
        return false;
    }
    out = Triangle{a, b, c};
    return true;
}

// Sums over coordinates run y, x, z.
float edge_length(const Vector& p, const Vector& q) {
    const Vector d{p.x - q.x, p.y - q.y, p.z - q.z};
    return float(std::sqrt(double(dot_yxz(d, d))));
}

// The angle at one vertex over the scaled area, rounded to float.
float vertex_value(float cosine, float scaled_area) {
    return float(std::acos(double(cosine)) * 10.0 / double(scaled_area));
}

} // namespace

CurvatureEstimate estimate_from_triangle(RenderState& state) {
    CurvatureEstimate estimate;
    Triangle normals;
    if (!fetch_triangle(state, 'n', normals)) {
        return estimate;
    }
    // The cosines between the flat normal and each vertex normal, taken while
    // the normals are still valid.
    const Vector& flat_normal = state.geometric_normal;
    const float cosine_a = clamp_cosine(dot_yxz(flat_normal, *normals.a));
    const float cosine_b = clamp_cosine(dot_yxz(flat_normal, *normals.b));
    const float cosine_c = clamp_cosine(dot_yxz(flat_normal, *normals.c));
    Triangle positions;
    if (!fetch_triangle(state, 'p', positions)) {
        return estimate;
    }

    // Heron's formula: the product in float, its root in double.
    const float l_ab = edge_length(*positions.a, *positions.b);
    const float l_ac = edge_length(*positions.a, *positions.c);
    const float l_bc = edge_length(*positions.b, *positions.c);
    const float s = (l_ac + l_ab + l_bc) * 0.5f;
    const float heron = (s - l_ab) * s * (s - l_ac) * (s - l_bc);
    // Collinear vertices round to a zero, negative or NaN product: no area,
    // no estimate.
    if (!(heron > 0.0f)) {
        return estimate;
    }
    const double area = std::sqrt(double(heron));
    const float scaled_area = float(area * 100.0);

    estimate.vertex[0] = vertex_value(cosine_a, scaled_area);
    estimate.vertex[1] = vertex_value(cosine_b, scaled_area);
    estimate.vertex[2] = vertex_value(cosine_c, scaled_area);
    return estimate;
}

} // namespace bl
