#include "bench/floor.h"

#include <cmath>
#include <cstdint>

namespace straight {
namespace {

constexpr double pi = 3.141592653589793;

inline float clamp_cosine(float cosine) {
    return cosine > 1.0f ? 1.0f : (cosine < -1.0f ? -1.0f : cosine);
}

// Measures of the principal curvatures (methods 0 and 2).
inline float principal_measure(float k1, float k2, int32_t measure) {
    if (measure == 1) {
        return k1 * k2;
    }
    return measure == 0 || measure == 2 ? -((k1 + k2) * 0.5f) : 0.0f;
}

// Maps h through the range and writes r, g and b; a mapping outside 0 to 2
// writes nothing.
inline void map_and_write(Colour* result, float h, const BendlensParameters* p) {
    const float max = p->range_max;
    const float lo = -p->range_min;
    float a = p->threshold;
    if (a > max || lo > a) {
        a = 0.0f;
    }
    float control[3] = {0.0f, p->contrast, 1.0f};
    const bool curve = p->use_contrast != 0;
    float out;
    if (p->mapping == 0) {
        if (h > max) {
            out = 1.0f;
        } else if (h < lo) {
            out = 0.0f;
        } else if (h > 0.0f) {
            float t = h / max;
            if (curve) {
                t = mi_spline(t, 3, control);
            }
            out = float(double(t * 0.5f) + 0.5);
        } else {
            float t = (h == 0.0f && lo == 0.0f) ? 0.0f : h / lo;
            if (curve) {
                t = mi_spline(t, 3, control);
            }
            out = float(0.5 - double(t * 0.5f));
        }
    } else if (p->mapping == 1) {
        out = h >= max ? 1.0f : 0.0f;
        if (h > a && h < max) {
            const float d = h - a;
            out = 0.0f;
            if (d > 0.0f) {
                out = d / (max - a);
                if (curve) {
                    out = mi_spline(out, 3, control);
                    out = out > 1.0f ? 1.0f : out;
                }
            }
        }
    } else if (p->mapping == 2) {
        const float edge = -a;
        out = h <= lo ? 1.0f : 0.0f;
        if (h < edge && h > lo) {
            const float d = h - edge;
            out = 0.0f;
            if (d < 0.0f) {
                out = d / (lo - edge);
                if (curve) {
                    out = mi_spline(out, 3, control);
                    out = out > 1.0f ? 1.0f : out;
                }
            }
        }
    } else {
        return;
    }
    result->r = out;
    result->g = out;
    result->b = out;
}

} // namespace

Boolean shade_derivatives(Colour* result, RenderState* state, BendlensParameters* params) {
    float nx = state->normal.x;
    float ny = state->normal.y;
    float nz = state->normal.z;
    const float length = float(std::sqrt(double(ny * ny + nx * nx + nz * nz)));
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        nx *= inverse;
        ny *= inverse;
        nz *= inverse;
    }
    const Vector* d = state->derivs;
    const float e = d[0].x * d[0].x + d[0].y * d[0].y + d[0].z * d[0].z;
    const float f = d[0].x * d[1].x + d[0].y * d[1].y + d[0].z * d[1].z;
    const float g = d[1].x * d[1].x + d[1].y * d[1].y + d[1].z * d[1].z;
    const float l = ny * d[2].y + nx * d[2].x + nz * d[2].z;
    const float m = ny * d[4].y + nx * d[4].x + nz * d[4].z;
    const float nn = ny * d[3].y + nx * d[3].x + nz * d[3].z;

    const float a = float(double(e * g) - double(f) * double(f));
    const float b = -(l * g + nn * e - 2.0f * (m * f));
    const float c = float(double(nn * l) - double(m) * double(m));
    float k1 = 0.0f;
    float k2 = 0.0f;
    if (a != 0.0f) {
        float aa = a, bb = b, cc = c;
        float disc = bb * bb - (aa * 4.0f) * cc;
        if (!std::isfinite(disc) && std::isfinite(aa) && std::isfinite(bb) && std::isfinite(cc)) {
            const int exponent =
                std::ilogb(std::fmax(std::fabs(aa), std::fmax(std::fabs(bb), std::fabs(cc))));
            aa = std::scalbn(aa, -exponent);
            bb = std::scalbn(bb, -exponent);
            cc = std::scalbn(cc, -exponent);
            disc = bb * bb - (aa * 4.0f) * cc;
        }
        if (disc < 0.0f) {
            disc = 0.0f;
        }
        const double root = std::sqrt(double(disc));
        const float q = float(bb < 0.0f ? -0.5 * (double(bb) - root) : -0.5 * (double(bb) + root));
        k1 = q == 0.0f ? 0.0f : cc / q;
        k2 = q / aa;
    }
    map_and_write(result, principal_measure(k1, k2, params->measure), params);
    return 1;
}

Boolean shade_triangle(Colour* result, RenderState* state, BendlensParameters* params) {
    Vector *na, *nb, *nc, *pa, *pb, *pc;
    mi_tri_vectors(state, 'n', 1, &na, &nb, &nc);
    mi_tri_vectors(state, 'p', 1, &pa, &pb, &pc);

    const float ab_x = pa->x - pb->x, ab_y = pa->y - pb->y, ab_z = pa->z - pb->z;
    const float ac_x = pa->x - pc->x, ac_y = pa->y - pc->y, ac_z = pa->z - pc->z;
    const float bc_x = pb->x - pc->x, bc_y = pb->y - pc->y, bc_z = pb->z - pc->z;
    const float l_ab = float(std::sqrt(double(ab_y * ab_y + ab_x * ab_x + ab_z * ab_z)));
    const float l_ac = float(std::sqrt(double(ac_y * ac_y + ac_x * ac_x + ac_z * ac_z)));
    const float l_bc = float(std::sqrt(double(bc_y * bc_y + bc_x * bc_x + bc_z * bc_z)));
    const float s = (l_ac + l_ab + l_bc) * 0.5f;
    const float heron = (s - l_ab) * s * (s - l_ac) * (s - l_bc);

    float v0 = 0.0f, v1 = 0.0f, v2 = 0.0f;
    if (heron > 0.0f) {
        const double scaled_area = double(float(std::sqrt(double(heron)) * 100.0));
        const Vector& ng = state->geometric_normal;
        const float c0 = clamp_cosine(ng.y * na->y + ng.x * na->x + ng.z * na->z);
        const float c1 = clamp_cosine(ng.y * nb->y + ng.x * nb->x + ng.z * nb->z);
        const float c2 = clamp_cosine(ng.y * nc->y + ng.x * nc->x + ng.z * nc->z);
        v0 = float(std::acos(double(c0)) * 10.0 / scaled_area);
        v1 = float(std::acos(double(c1)) * 10.0 / scaled_area);
        v2 = float(std::acos(double(c2)) * 10.0 / scaled_area);
    }
    const int32_t measure = params->measure;
    const float* bary = state->bary;
    float h = 0.0f;
    if (measure == 0) {
        h = (v1 + v0 + v2) / 3.0f;
    } else if (measure == 1) {
        h = v1 * v0 * v2;
    } else if (measure == 2) {
        h = v1 * bary[1] + v0 * bary[0] + v2 * bary[2];
    }
    map_and_write(result, h, params);
    return 1;
}

Boolean shade_probes(Colour* result, RenderState* state, BendlensParameters* params) {
    const float samples = params->samples;
    uint32_t count = 0;
    if (samples >= 1.0f) {
        count = samples >= 4294967296.0f ? UINT32_MAX : uint32_t(samples);
    }
    const float scale = params->probe_scale;

    const Vector saved_origin = state->ray_origin;
    void* const saved_primitive = state->primitive;
    state->primitive = nullptr;
    Vector origin{state->point.x + state->normal.x, state->point.y + state->normal.y,
                  state->point.z + state->normal.z};
    state->ray_origin = origin;

    float bx = -state->normal.x;
    float by = -state->normal.y;
    float bz = -state->normal.z;
    const float length = float(std::sqrt(double(by * by + bx * bx + bz * bz)));
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        bx *= inverse;
        by *= inverse;
        bz *= inverse;
    }
    const float jitter = 1.0f / scale;

    float sum = 0.0f;
    int32_t hits = 0;
    const bool finite = std::isfinite(jitter);
    if (finite) {
        double pair[2] = {0.0, 0.0};
        int instance = 0;
        while (mi_sample(pair, &instance, state, 2, &count)) {
            const double w = 2.0 * pair[0] - 1.0;
            const double rho = std::sqrt(1.0 - w * w);
            const double phi = pair[1] * 2.0 * pi;
            Vector direction{float(std::cos(phi) * rho) * jitter + bx,
                             float(std::sin(phi) * rho) * jitter + by, float(w) * jitter + bz};
            if (!mi_trace_probe(state, &direction, &origin)) {
                continue;
            }
            const Vector& landed = state->child->normal;
            const float cosine =
                clamp_cosine(landed.x * state->normal.x + landed.y * state->normal.y +
                             landed.z * state->normal.z);
            sum = float(double(sum) + std::acos(double(cosine)));
            hits += 1;
        }
    }
    state->primitive = saved_primitive;
    state->ray_origin = saved_origin;

    float k = 0.0f;
    if (finite && hits != 0) {
        k = -(sum / float(hits) * scale);
    }
    map_and_write(result, principal_measure(k, k, params->measure), params);
    return 1;
}

} // namespace straight
