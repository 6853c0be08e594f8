#include "preview/mesh/obj_tokens.h"

#include <cmath>
#include <cstdint>

namespace preview {
namespace obj {
namespace {

// Assimp's scale of each count of decimals read, 10^-count as a double.
constexpr double decimal_scale[16] = {0.0,  1e-1, 1e-2,  1e-3,  1e-4,  1e-5,  1e-6,  1e-7,
                                      1e-8, 1e-9, 1e-10, 1e-11, 1e-12, 1e-13, 1e-14, 1e-15};

} // namespace

// Reads a number written -?D+(.D*)?(e[+-]?D+)? or -.D+(e...)? with the
// arithmetic of Assimp's fast_atoreal_move<float>: the whole part as an
// integer rounded to float, the first 15 decimals as an integer scaled in
// double, rounded to float and added in float, then times powf(10, exponent)
// and the sign. That is not the nearest float to the decimal number, and
// reading it any other way would move vertices by an ulp. Refuses (false)
// any other spelling, a whole part past 18 digits, an exponent past 4 and a
// result that is not finite, all of which Assimp reads in ways of its own;
// and a number that starts with its point (.5), which Assimp does not count
// as a number on a v or vt line (and then drops the vertex).
bool read_number(const char*& p, const char* end, float& out) {
    const char* c = p;
    if (c < end && *c == '.') {
        return false;
    }
    const bool negative = c < end && *c == '-';
    c += negative ? 1 : 0;
    uint64_t whole = 0;
    const char* digits = c;
    while (c < end && is_digit(*c)) {
        whole = whole * 10 + uint64_t(*c - '0');
        ++c;
    }
    const size_t whole_digits = size_t(c - digits);
    if (whole_digits > 18) {
        return false;
    }
    float value = float(whole);
    if (c < end && *c == '.') {
        ++c;
        uint64_t decimals = 0;
        size_t read = 0;
        while (c < end && is_digit(*c)) {
            if (read < 15) { // Assimp reads 15 decimals and skips the rest
                decimals = decimals * 10 + uint64_t(*c - '0');
                ++read;
            }
            ++c;
        }
        if (read == 0 && whole_digits == 0) {
            return false;
        }
        if (read > 0) {
            value += float(double(decimals) * decimal_scale[read]);
        }
    } else if (whole_digits == 0) {
        return false;
    }
    if (c < end && (*c == 'e' || *c == 'E')) {
        ++c;
        const bool exponent_negative = c < end && *c == '-';
        c += c < end && (*c == '-' || *c == '+') ? 1 : 0;
        const char* exponent_digits = c;
        uint64_t exponent = 0;
        while (c < end && is_digit(*c) && c - exponent_digits < 5) {
            exponent = exponent * 10 + uint64_t(*c - '0');
            ++c;
        }
        if (c == exponent_digits || c - exponent_digits > 4) {
            return false;
        }
        const float power = exponent_negative ? -float(exponent) : float(exponent);
        value *= std::pow(10.0f, power);
    }
    if (!at_token_end(c, end) || !std::isfinite(value)) {
        return false;
    }
    out = negative ? -value : value;
    p = c;
    return true;
}

// Reads an index written -?[1-9]D{0,8} (Assimp reads it with atoi and steps
// over as many characters as the value has digits, so leading zeros or a
// plus sign would be read twice).
bool read_index(const char*& p, const char* end, long long& out) {
    const char* c = p;
    const bool negative = c < end && *c == '-';
    c += negative ? 1 : 0;
    if (c == end || *c < '1' || *c > '9') {
        return false;
    }
    long long value = 0;
    const char* digits = c;
    while (c < end && is_digit(*c) && c - digits < 10) {
        value = value * 10 + (*c - '0');
        ++c;
    }
    if (c - digits > 9) {
        return false;
    }
    out = negative ? -value : value;
    p = c;
    return true;
}

} // namespace obj
} // namespace preview
