#include "curvature/analytic.h"

#include <cmath>

#include "curvature/vector_steps.h"

namespace bl {
namespace {

// The square of a float, exactly: 24-bit significands multiply into at most
// 48 bits, which a double holds without rounding.
double exact_square(float v) {
    return double(v) * double(v);
}

} // namespace

CurvatureEstimate principal_curvatures(float a, float b, float c) {
    CurvatureEstimate estimate;
    // Pu parallel to Pv (or zero, as at a pole) has no curvature to give.
    if (a == 0.0f) {
        return estimate;
    }
    float d = b * b - (a * 4.0f) * c;
    // Coefficients of very large derivatives (components from about 2.5e6)
    // overflow b*b or 4ac although each is finite. Dividing all three by the
    // same power of two leaves the roots as they are and keeps d in range;
    // the steps below then use the scaled values. Where d was finite nothing
    // changes.
    if (!std::isfinite(d) && std::isfinite(a) && std::isfinite(b) && std::isfinite(c)) {
        const int exponent =
            std::ilogb(std::fmax(std::fabs(a), std::fmax(std::fabs(b), std::fabs(c))));
        a = std::scalbn(a, -exponent);
        b = std::scalbn(b, -exponent);
        c = std::scalbn(c, -exponent);
        d = b * b - (a * 4.0f) * c;
    }
    // The roots are real for any real surface; a negative d is rounding, so it
    // is read as the double root. A NaN d keeps its NaN.
    if (d < 0.0f) {
        d = 0.0f;
    }
    // Pick the sign that adds magnitudes, so the root term never cancels b.
    const double root = std::sqrt(double(d));
    const double q_wide = b < 0.0f ? -0.5 * (double(b) - root) : -0.5 * (double(b) + root);
    const float q = float(q_wide);
    // q is zero when b and d are (or when it underflows): the double root
    // -b/2a = 0, not 0/0.
    estimate.k1 = q == 0.0f ? 0.0f : c / q;
    estimate.k2 = q / a;
    return estimate;
}

CurvatureEstimate estimate_from_derivatives(const RenderState& state) {
    if (state.derivs == nullptr) {
        return CurvatureEstimate{};
    }
    const Vector n = unit_length(state.normal);
    const Vector& pu = state.derivs[0];
    const Vector& pv = state.derivs[1];
    const Vector& puu = state.derivs[2];
    const Vector& pvv = state.derivs[3];
    const Vector& puv = state.derivs[4];

    // Fundamental forms: the first summed x, y, z, the second y, x, z.
    const float e = dot_xyz(pu, pu);
    const float f = dot_xyz(pu, pv);
    const float g = dot_xyz(pv, pv);
    const float l = dot_yxz(n, puu);
    const float m = dot_yxz(n, puv);
    const float nn = dot_yxz(n, pvv);

    // Coefficients of a*k^2 + b*k + c = 0. E*G and Nn*L are float products;
    // the squares and the differences are taken in double before rounding.
    const float a = float(double(e * g) - exact_square(f));
    const float b = -(l * g + nn * e - 2.0f * (m * f));
    const float c = float(double(nn * l) - exact_square(m));
    return principal_curvatures(a, b, c);
}

} // namespace bl
