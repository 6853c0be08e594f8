#include "curvature/mesh.h"

#include <cmath>

#include "curvature/vector_steps.h"

namespace bl {
namespace {

struct Triangle {
    Vector a, b, c;
};

// Asks the renderer for the current triangle's vertex normals ('n') or
// positions ('p'). A failed call, or one that leaves any pointer unset, gives
// nothing to read.
bool fetch_triangle(RenderState& state, int which, Triangle& out) {
    Vector* a = nullptr;
    Vector* b = nullptr;
    Vector* c = nullptr;
    const Boolean found = mi_tri_vectors(&state, which, 1, &a, &b, &c);
    if (!found || a == nullptr || b == nullptr || c == nullptr) {
        return false;
    }
    out = Triangle{*a, *b, *c};
    return true;
}

// Sums over coordinates run y, x, z.
float edge_length(const Vector& p, const Vector& q) {
    const Vector d{p.x - q.x, p.y - q.y, p.z - q.z};
    return float(std::sqrt(double(dot_yxz(d, d))));
}

} // namespace

CurvatureEstimate estimate_from_triangle(RenderState& state) {
    CurvatureEstimate estimate;
    Triangle normals;
    if (!fetch_triangle(state, 'n', normals)) {
        return estimate;
    }
    const Vector flat_normal = state.geometric_normal;
    Triangle positions;
    if (!fetch_triangle(state, 'p', positions)) {
        return estimate;
    }

    // Heron's formula: the product in float, its root in double.
    const float l_ab = edge_length(positions.a, positions.b);
    const float l_ac = edge_length(positions.a, positions.c);
    const float l_bc = edge_length(positions.b, positions.c);
    const float s = (l_ac + l_ab + l_bc) * 0.5f;
    const float heron = (s - l_ab) * s * (s - l_ac) * (s - l_bc);
    // Collinear vertices round to a zero, negative or NaN product: no area,
    // no estimate.
    if (!(heron > 0.0f)) {
        return estimate;
    }
    const double area = std::sqrt(double(heron));
    const float scaled_area = float(area * 100.0);

    const Vector* vertex_normals[3] = {&normals.a, &normals.b, &normals.c};
    for (int i = 0; i < 3; ++i) {
        const float cosine = clamp_cosine(dot_yxz(flat_normal, *vertex_normals[i]));
        estimate.vertex[i] = float(std::acos(double(cosine)) * 10.0 / double(scaled_area));
    }
    return estimate;
}

} // namespace bl
