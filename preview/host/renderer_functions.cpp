// The five renderer functions the shader calls, as the preview provides them.
//
// The executable exports them (it is linked with ENABLE_EXPORTS), so the
// plug-in's undefined references bind to these when it is loaded with
// dlopen, just as they bind to the renderer's own.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "preview/host/host_state.h"
#include "preview/host/sampling.h"

namespace preview {

// The cap on the number of pairs one mi_sample loop draws.
constexpr uint32_t sample_cap = 4096;

// The most control values mi_spline interpolates.
constexpr int spline_cap = 64;

} // namespace preview

using preview::host_state;
using preview::HostState;

extern "C" {

// mi_phen_eval: the value of a connected parameter.
//
// The parameter is found by its address inside the state's instance block;
// if it is connected to u or v, the hit's coordinate in [0, 1] is mapped onto
// the connection's [low, high] (integer parameters take the floor, saturated
// to the int32 range) and a pointer to that value is returned. It stays valid
// until the same parameter is evaluated again on the same state. A parameter
// that is not connected, or an address outside the block, is returned as it
// stands, so reading through the result reads the parameter in place.
void* mi_phen_eval(RenderState* state, void* parameter) {
    if (state == nullptr || parameter == nullptr) {
        return parameter;
    }
    HostState* host = host_state(state);
    if (host->instance == nullptr) {
        return parameter;
    }
    const auto* base = reinterpret_cast<const unsigned char*>(&host->instance->block.params);
    const auto* at = static_cast<const unsigned char*>(parameter);
    if (at < base || at >= base + sizeof(BendlensParameters) || (at - base) % 4 != 0) {
        return parameter;
    }
    const int k = int((at - base) / 4);
    const preview::Connection& connection = host->instance->connections[k];
    if (connection.source == preview::Connection::none) {
        return parameter;
    }
    const double coordinate = connection.source == preview::Connection::u ? host->u : host->v;
    const double value =
        double(connection.low) + coordinate * (double(connection.high) - double(connection.low));
    // method, measure, mapping and use_contrast are integers (fields 0, 1, 2, 7).
    const bool integer = k == 0 || k == 1 || k == 2 || k == 7;
    if (integer) {
        const double whole = std::floor(value);
        int32_t i = 0;
        if (whole >= 2147483647.0) {
            i = INT32_MAX;
        } else if (whole <= -2147483648.0) {
            i = INT32_MIN;
        } else if (whole == whole) {
            i = int32_t(whole);
        }
        host->evaluated[k].i = i;
    } else {
        host->evaluated[k].f = float(value);
    }
    return &host->evaluated[k];
}

// mi_tri_vectors: the current triangle's vertex normals (which = 'n') or
// vertex positions (which = 'p'), in the triangle's vertex order a, b, c.
//
// a, b and c point at copies held in the state, valid until the next call on
// it. Returns false, leaving a, b and c untouched, when the state has no
// triangle under it: a null primitive, or a built-in surface shown as a
// free-form surface (--free-form); and for any other which, or a count other
// than 1 (one triangle: the current one).
Boolean mi_tri_vectors(RenderState* state, int which, int count, Vector** a, Vector** b,
                       Vector** c) {
    if (state == nullptr || state->primitive == nullptr || count != 1 || a == nullptr ||
        b == nullptr || c == nullptr || (which != 'n' && which != 'p')) {
        return 0;
    }
    HostState* host = host_state(state);
    const auto* primitive = static_cast<const preview::Primitive*>(state->primitive);
    if (!primitive->object->has_triangles) {
        return 0;
    }
    const preview::Mesh& mesh = primitive->object->mesh;
    const uint32_t* corner = &mesh.triangles[3 * size_t(primitive->triangle)];
    Vector* target = which == 'n' ? host->triangle_normals : host->triangle_positions;
    const std::vector<preview::Float3>& source = which == 'n' ? mesh.normals : mesh.positions;
    for (int i = 0; i < 3; ++i) {
        const preview::Float3 p = source[corner[i]];
        target[i] = {p.x, p.y, p.z};
    }
    *a = &target[0];
    *b = &target[1];
    *c = &target[2];
    return 1;
}

// mi_sample: the next point of a low-discrepancy sequence.
//
// Dimension 2 writes the R2 point number *instance, rotated by an offset
// drawn from the state's sample seed (so pixels and a pixel's samples are
// decorrelated, and the same pixel gives the same points on any thread);
// dimension 1 writes its first coordinate only. Each value is in [0, 1).
// A count above 4096 is lowered to 4096 and written back through count.
// Returns true and advances *instance while *instance < *count; false once
// the count is reached (at once for a count of 0), for another dimension, or
// for a null pointer.
Boolean mi_sample(double* sample, int* instance, RenderState* state, uint16_t dimension,
                  uint32_t* count) {
    if (sample == nullptr || instance == nullptr || state == nullptr || count == nullptr ||
        (dimension != 1 && dimension != 2)) {
        return 0;
    }
    if (*count > preview::sample_cap) {
        *count = preview::sample_cap;
    }
    if (*instance < 0 || uint32_t(*instance) >= *count) {
        return 0;
    }
    const uint32_t seed = preview::hash_combine(host_state(state)->sample_seed, dimension);
    double point[2];
    preview::r2_point(uint32_t(*instance), seed, point);
    sample[0] = point[0];
    if (dimension == 2) {
        sample[1] = point[1];
    }
    ++*instance;
    return 1;
}

// mi_trace_probe: casts a ray from origin along direction (any length, not
// normalised) against the whole scene.
//
// On a hit, fills the state's probe child with the hit (point, unit shading
// normal, flat normal, weights, primitive, derivatives), points state->child
// at it and returns true. The primitive under the shading point is skipped
// while state->primitive names it; with a null primitive, as the shader sets
// while probing, every primitive may be hit. A miss, a direction that is not
// finite or zero, or a state without a scene returns false and leaves
// state->child as it was.
Boolean mi_trace_probe(RenderState* state, Vector* direction, Vector* origin) {
    if (state == nullptr || direction == nullptr || origin == nullptr) {
        return 0;
    }
    HostState* host = host_state(state);
    if (host->scene == nullptr || host->probe_child == nullptr) {
        return 0;
    }
    const Vector d = *direction;
    const Vector o = *origin;
    if (!std::isfinite(d.x) || !std::isfinite(d.y) || !std::isfinite(d.z) || !std::isfinite(o.x) ||
        !std::isfinite(o.y) || !std::isfinite(o.z) || (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f)) {
        return 0;
    }
    preview::Hit hit;
    const auto* exclude = static_cast<const preview::Primitive*>(state->primitive);
    if (!host->scene->intersect(o, d, exclude, hit)) {
        return 0;
    }
    HostState& child = *host->probe_child;
    child.scene = host->scene;
    child.instance = host->instance;
    child.sample_seed = host->sample_seed;
    preview::load_hit(hit, child);
    child.state.shader = state->shader;
    state->child = &child.state;
    return 1;
}

// mi_spline: the monotone cubic (Fritsch-Carlson) through count control values
// placed evenly on [0, 1]: control[0] at 0, control[count - 1] at 1.
//
// For the shader's three values (0, c, 1) it passes through (0.5, c), stays
// within [0, 1] and rises for any c in [0, 1], and is the identity for
// c = 0.5 (equal secants give straight segments). t is clamped to [0, 1]; a
// NaN t gives NaN. A count of 1 gives control[0]; a count below 1 or above
// 64, or a null control, gives t unchanged.
float mi_spline(float t, int count, float* control) {
    if (control == nullptr || count < 1 || count > preview::spline_cap) {
        return t;
    }
    if (std::isnan(t)) {
        return t;
    }
    if (count == 1) {
        return control[0];
    }
    const int intervals = count - 1;
    const double x = t < 0.0f ? 0.0 : (t > 1.0f ? 1.0 : double(t));
    const double h = 1.0 / intervals;
    double secant[preview::spline_cap];
    double slope[preview::spline_cap];
    for (int i = 0; i < intervals; ++i) {
        secant[i] = (double(control[i + 1]) - double(control[i])) / h;
    }
    slope[0] = secant[0];
    slope[intervals] = secant[intervals - 1];
    for (int i = 1; i < intervals; ++i) {
        slope[i] = secant[i - 1] * secant[i] > 0.0 ? 0.5 * (secant[i - 1] + secant[i]) : 0.0;
    }
    // Limit the slopes so that no segment overshoots its ends.
    for (int i = 0; i < intervals; ++i) {
        if (secant[i] == 0.0) {
            slope[i] = 0.0;
            slope[i + 1] = 0.0;
            continue;
        }
        const double alpha = slope[i] / secant[i];
        const double beta = slope[i + 1] / secant[i];
        if (alpha < 0.0) {
            slope[i] = 0.0;
        }
        if (beta < 0.0) {
            slope[i + 1] = 0.0;
        }
        const double sum = alpha * alpha + beta * beta;
        if (sum > 9.0) {
            const double tau = 3.0 / std::sqrt(sum);
            slope[i] = tau * alpha * secant[i];
            slope[i + 1] = tau * beta * secant[i];
        }
    }
    int i = int(x * intervals);
    if (i >= intervals) {
        i = intervals - 1;
    }
    const double s = (x - i * h) / h;
    const double s2 = s * s, s3 = s2 * s;
    const double h00 = 2.0 * s3 - 3.0 * s2 + 1.0;
    const double h10 = s3 - 2.0 * s2 + s;
    const double h01 = -2.0 * s3 + 3.0 * s2;
    const double h11 = s3 - s2;
    return float(h00 * control[i] + h10 * h * slope[i] + h01 * control[i + 1] +
                 h11 * h * slope[i + 1]);
}

} // extern "C"
