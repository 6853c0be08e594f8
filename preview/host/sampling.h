// Low-discrepancy samples, decorrelated between pixels.
//
// The sequence is R2 (Roberts' additive recurrence on the plastic number):
// point i is frac(0.5 + i * (1/g, 1/g^2)), g = 1.3247179572447460. Each user
// shifts it by its own random offset (a Cranley-Patterson rotation), drawn
// from a hash of a seed, so neighbouring pixels never share a pattern while
// each one keeps the sequence's even coverage.
#pragma once

#include <cmath>
#include <cstdint>

namespace preview {

// A 32-bit integer hash with good avalanche (Wellons' lowbias32).
inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

inline uint32_t hash_combine(uint32_t seed, uint32_t value) {
    return hash32(seed ^ (value + 0x9e3779b9U + (seed << 6) + (seed >> 2)));
}

// A double in [0, 1) from a hash.
inline double unit_from_hash(uint32_t h) {
    return double(h) * (1.0 / 4294967296.0);
}

inline double fraction(double x) {
    return x - std::floor(x);
}

// Point i of R2, rotated by the seed's offset; both values in [0, 1).
inline void r2_point(uint32_t i, uint32_t seed, double out[2]) {
    constexpr double g = 1.32471795724474602596;
    constexpr double a1 = 1.0 / g;
    constexpr double a2 = 1.0 / (g * g);
    const double shift1 = unit_from_hash(hash_combine(seed, 1));
    const double shift2 = unit_from_hash(hash_combine(seed, 2));
    out[0] = fraction(0.5 + a1 * double(i) + shift1);
    out[1] = fraction(0.5 + a2 * double(i) + shift2);
    // fraction() of a value just below an integer can round up to 1.0; keep [0, 1).
    if (out[0] >= 1.0) {
        out[0] = 0.0;
    }
    if (out[1] >= 1.0) {
        out[1] = 0.0;
    }
}

} // namespace preview
