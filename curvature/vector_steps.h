// The small vector steps the estimators share, each with its rounding spelled
// out: sums of three float products in a fixed coordinate order, and unit
// length by a float reciprocal.
#pragma once

#include <cmath>

#include "shader/renderer.h"

namespace bl {

inline float dot_xyz(const Vector& p, const Vector& q) {
    return p.x * q.x + p.y * q.y + p.z * q.z;
}
inline float dot_yxz(const Vector& p, const Vector& q) {
    return p.y * q.y + p.x * q.x + p.z * q.z;
}

// v at unit length: the length is the square root, in double, of the float sum
// of squares (y, x, z), rounded to float; v is then multiplied by its float
// reciprocal. A zero vector is returned as it stands.
inline Vector unit_length(Vector v) {
    const float length = float(std::sqrt(double(dot_yxz(v, v))));
    if (length != 0.0f) {
        const float inverse = 1.0f / length;
        v.x *= inverse;
        v.y *= inverse;
        v.z *= inverse;
    }
    return v;
}

// Cosine of the angle between two unit normals, clamped to [-1, 1]: normals
// whose dot product rounds just past one still describe a real (zero or
// straight) angle, and acos must not turn them into NaN. NaN passes through.
inline float clamp_cosine(float cosine) {
    if (cosine > 1.0f) {
        return 1.0f;
    }
    if (cosine < -1.0f) {
        return -1.0f;
    }
    return cosine;
}

} // namespace bl
