// What the accuracy report's tables share: the hit under an exact surface
// point, error statistics, number printing and points sampled by area.
#pragma once

#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "preview/scene/scene.h"
#include "preview/scene/surfaces.h"

namespace preview {

// The hit on the tessellation under an exact surface point: a short ray from
// just above it, down the exact normal.
bool hit_under(const Scene& scene, const SurfacePoint& p, Hit& hit);

// Errors of estimates against exact values.
struct Statistics {
    int count = 0;
    int invalid = 0; // NaN or infinite estimates
    double sum_abs_error = 0.0, sum_sq_error = 0.0, sum_sq_exact = 0.0;
    double sx = 0.0, sy = 0.0, sxx = 0.0, syy = 0.0, sxy = 0.0;

    void add(double estimate, double exact) {
        if (!std::isfinite(estimate)) {
            ++invalid;
            return;
        }
        ++count;
        const double error = estimate - exact;
        sum_abs_error += std::fabs(error);
        sum_sq_error += error * error;
        sum_sq_exact += exact * exact;
        sx += estimate, sy += exact;
        sxx += estimate * estimate, syy += exact * exact, sxy += estimate * exact;
    }
    // The scale s that brings s * estimate closest to the exact values (least
    // squares), for methods whose output is not in curvature units.
    double fitted_scale() const { return sxx > 0.0 ? sxy / sxx : NAN; }
    // The relative RMS error left after that scaling.
    double fitted_error() const {
        if (!(sxx > 0.0) || !(syy > 0.0)) {
            return NAN;
        }
        return std::sqrt(std::fmax(0.0, syy - sxy * sxy / sxx) / syy);
    }
    // Pearson's r; NaN when either side does not vary.
    double correlation() const {
        const double n = count;
        const double vx = sxx - sx * sx / n, vy = syy - sy * sy / n;
        if (count < 2 || vx <= 1e-12 * sxx || vy <= 1e-12 * syy) {
            return NAN;
        }
        return (sxy - sx * sy / n) / std::sqrt(vx * vy);
    }
};

// Prints " | value" to 4 significant digits, or " | n/a" for NaN.
void print_number(FILE* out, double value);

// Parameter points (s, t) drawn with density proportional to the area
// element |Pu x Pv|, so that every part of the surface counts by its area.
std::vector<std::pair<double, double>> area_samples(const Surface& surface, int points,
                                                    unsigned seed);

} // namespace preview
