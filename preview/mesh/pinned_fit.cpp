#include "preview/mesh/pinned_fit.h"

#include <cmath>

namespace preview {
namespace {

// Below this ratio of a pivot to its diagonal entry the points do not pin
// the fit down (collinear, or too few for the terms).
constexpr double smallest_pivot = 1e-10;

// Solves the symmetric positive definite system m x = r in place by
// Cholesky (m = U' U, only the upper triangle read); false when it is
// singular or too close to it. n is small and fixed, so the loops unroll.
template <int n> bool solve_small(double (&m)[n][n], double (&r)[n]) {
    double inverse[n];
#pragma GCC unroll 7
    for (int j = 0; j < n; ++j) {
        double pivot = m[j][j];
#pragma GCC unroll 7
        for (int k = 0; k < j; ++k) {
            pivot -= m[k][j] * m[k][j];
        }
        if (!(pivot > smallest_pivot * m[j][j]) || !std::isfinite(pivot)) {
            return false;
        }
        inverse[j] = 1.0 / std::sqrt(pivot);
#pragma GCC unroll 7
        for (int l = j + 1; l < n; ++l) {
            double sum = m[j][l];
#pragma GCC unroll 7
            for (int k = 0; k < j; ++k) {
                sum -= m[k][j] * m[k][l];
            }
            m[j][l] = sum * inverse[j];
        }
    }
#pragma GCC unroll 7
    for (int i = 0; i < n; ++i) { // U' y = r
        double sum = r[i];
#pragma GCC unroll 7
        for (int k = 0; k < i; ++k) {
            sum -= m[k][i] * r[k];
        }
        r[i] = sum * inverse[i];
    }
#pragma GCC unroll 7
    for (int i = n - 1; i >= 0; --i) { // U x = y
        double sum = r[i];
#pragma GCC unroll 7
        for (int k = i + 1; k < n; ++k) {
            sum -= m[i][k] * r[k];
        }
        r[i] = sum * inverse[i];
    }
    for (int i = 0; i < n; ++i) {
        if (!std::isfinite(r[i])) {
            return false;
        }
    }
    return true;
}

// Monomial x^a y^b of total degree d = a + b sits at d (d + 1) / 2 + b.
constexpr int monomial(int a, int b) {
    return (a + b) * (a + b + 1) / 2 + b;
}

// Where each entry of the cubic's normal equations comes from (terms k, l
// of the seven, k <= l, at k * 7 + l): the heights give the moment of
// x^(ak+al) y^(bk+bl); the slopes, ak al times that of x^(ak+al-2)
// y^(bk+bl) and bk bl times that of x^(ak+al) y^(bk+bl-2). Indices are into
// PinnedCubicMoments' arrays.
struct CubicSources {
    int power[49] = {}, along_x[49] = {}, along_y[49] = {};
    double factor_x[49] = {}, factor_y[49] = {};
    int slope_x[7] = {}, slope_y[7] = {};
    double slope_factor_x[7] = {}, slope_factor_y[7] = {};
    constexpr CubicSources() {
        const int a[7] = {2, 1, 0, 3, 2, 1, 0}, b[7] = {0, 1, 2, 0, 1, 2, 3};
        for (int k = 0; k < 7; ++k) {
            for (int l = k; l < 7; ++l) {
                const int at = k * 7 + l, sa = a[k] + a[l], sb = b[k] + b[l];
                power[at] = monomial(sa, sb) - monomial(4, 0);
                factor_x[at] = a[k] * a[l];
                along_x[at] = a[k] * a[l] > 0 ? monomial(sa - 2, sb) - monomial(2, 0) : 0;
                factor_y[at] = b[k] * b[l];
                along_y[at] = b[k] * b[l] > 0 ? monomial(sa, sb - 2) - monomial(2, 0) : 0;
            }
            slope_factor_x[k] = a[k];
            slope_x[k] = a[k] > 0 ? monomial(a[k] - 1, b[k]) - monomial(1, 0) : 0;
            slope_factor_y[k] = b[k];
            slope_y[k] = b[k] > 0 ? monomial(a[k], b[k] - 1) - monomial(1, 0) : 0;
        }
    }
};
constexpr CubicSources cubic_sources;

} // namespace

bool fit_pinned_quadratic(const PinnedPoint* points, int count, double quadratic[3]) {
    // Rows: heights (x^2, x y, y^2); slopes along x (2x, y, 0) and along y
    // (0, x, 2y).
    double m[3][3] = {}, r[3] = {};
    int equations = 0;
    for (int i = 0; i < count; ++i) {
        const PinnedPoint& p = points[i];
        const double x2 = p.x * p.x, xy = p.x * p.y, y2 = p.y * p.y;
        m[0][0] += x2 * x2, m[0][1] += x2 * xy, m[0][2] += x2 * y2;
        m[1][1] += xy * xy, m[1][2] += xy * y2, m[2][2] += y2 * y2;
        r[0] += p.z * x2, r[1] += p.z * xy, r[2] += p.z * y2;
        ++equations;
        if (p.has_slope) {
            m[0][0] += 4.0 * x2, m[0][1] += 2.0 * xy;
            m[1][1] += x2 + y2, m[1][2] += 2.0 * xy, m[2][2] += 4.0 * y2;
            r[0] += 2.0 * p.x * p.sx, r[1] += p.y * p.sx + p.x * p.sy, r[2] += 2.0 * p.y * p.sy;
            equations += 2;
        }
    }
    if (equations < 4 || !solve_small<3>(m, r)) {
        return false; // a fit is never a bare interpolation
    }
    for (int k = 0; k < 3; ++k) {
        quadratic[k] = r[k];
    }
    return true;
}

void PinnedCubicMoments::clear() {
    for (double& v : power) {
        v = 0.0;
    }
    for (double& v : slope_power) {
        v = 0.0;
    }
    for (double& v : height) {
        v = 0.0;
    }
    for (int i = 0; i < 5; ++i) {
        slope_x[i] = slope_y[i] = 0.0;
    }
    points = slopes = 0.0;
}

void PinnedCubicMoments::add(const PinnedPoint& p) {
    const double x = p.x, y = p.y, z = p.z;
    const double x2 = x * x, xy = x * y, y2 = y * y;
    const double x3 = x2 * x, x2y = x2 * y, xy2 = x * y2, y3 = y2 * y;
    const double x4 = x2 * x2, x3y = x2 * xy, x2y2 = x2 * y2, xy3 = xy * y2, y4 = y2 * y2;
    power[0] += x4, power[1] += x3y, power[2] += x2y2, power[3] += xy3, power[4] += y4;
    power[5] += x4 * x, power[6] += x4 * y, power[7] += x3y * y, power[8] += x2y2 * y;
    power[9] += xy3 * y, power[10] += y4 * y;
    power[11] += x4 * x2, power[12] += x4 * xy, power[13] += x4 * y2, power[14] += x3y * y2;
    power[15] += x2y2 * y2, power[16] += xy3 * y2, power[17] += y4 * y2;
    height[0] += z * x2, height[1] += z * xy, height[2] += z * y2;
    height[3] += z * x3, height[4] += z * x2y, height[5] += z * xy2, height[6] += z * y3;
    points += 1.0;
    if (!p.has_slope) {
        return;
    }
    slope_power[0] += x2, slope_power[1] += xy, slope_power[2] += y2;
    slope_power[3] += x3, slope_power[4] += x2y, slope_power[5] += xy2, slope_power[6] += y3;
    slope_power[7] += x4, slope_power[8] += x3y, slope_power[9] += x2y2;
    slope_power[10] += xy3, slope_power[11] += y4;
    slope_x[0] += p.sx * x, slope_x[1] += p.sx * y, slope_x[2] += p.sx * x2;
    slope_x[3] += p.sx * xy, slope_x[4] += p.sx * y2;
    slope_y[0] += p.sy * x, slope_y[1] += p.sy * y, slope_y[2] += p.sy * x2;
    slope_y[3] += p.sy * xy, slope_y[4] += p.sy * y2;
    slopes += 1.0;
}

bool fit_pinned_cubic(const PinnedCubicMoments& moments, double quadratic[3]) {
    constexpr int n = 7;
    if (moments.points + 2.0 * moments.slopes < double(n + 1)) {
        return false; // a fit is never a bare interpolation
    }
    const CubicSources& source = cubic_sources;
    double m[n][n], r[n];
    for (int k = 0; k < n; ++k) {
        for (int l = k; l < n; ++l) {
            const int at = k * n + l;
            m[k][l] = moments.power[source.power[at]] +
                      source.factor_x[at] * moments.slope_power[source.along_x[at]] +
                      source.factor_y[at] * moments.slope_power[source.along_y[at]];
        }
        r[k] = moments.height[k] + source.slope_factor_x[k] * moments.slope_x[source.slope_x[k]] +
               source.slope_factor_y[k] * moments.slope_y[source.slope_y[k]];
    }
    if (!solve_small<n>(m, r)) {
        return false;
    }
    for (int k = 0; k < 3; ++k) {
        quadratic[k] = r[k];
    }
    return true;
}

} // namespace preview
