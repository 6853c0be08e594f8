// The sums a jet fit reads (jet_fit.h): each point's monomials, weighted,
// added to the moments a batch at a time.
#include "preview/mesh/jet_fit.h"

#include <cstdint>
#include <cstring>

namespace preview {
namespace {

// Two doubles that the compiler keeps in one vector register: the sums run
// in pairs (GCC's and Clang's vector extension).
typedef double Pair __attribute__((vector_size(16)));

// e^-s in float for 0 <= s <= farthest_weight_exponent, to within a few float roundings
// (the series' error is below 2e-7 of it). Inline and without a branch, so
// that a batch of weights is computed four at a time: a call of the
// library's expf a point was a seventh of a fit.
inline float negative_exp(float s) {
    // e^-s = 2^-t = 2^-k 2^-f, k the integer nearest t, |f| <= 1/2.
    const float t = s * 1.44269504f;
    const int k = int(t + 0.5f);                   // t >= 0: the conversion rounds down
    const float y = (float(k) - t) * 0.693147181f; // -f ln 2, |y| <= 0.347
    const float series =
        1.0f +
        y * (1.0f +
             y * (0.5f + y * (1.0f / 6.0f +
                              y * (1.0f / 24.0f + y * (1.0f / 120.0f + y * (1.0f / 720.0f))))));
    // 2^-k as a float's exponent bits (k <= 126: a normal float).
    const uint32_t bits = uint32_t(127 - k) << 23;
    float scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return series * scale;
}

} // namespace

void weigh_gaussian(JetPoints& batch) {
    for (int k = 0; k < batch.count; ++k) {
        batch.w[k] = double(negative_exp(float(batch.w[k])));
    }
}

void JetMoments::clear() {
    for (double& v : power) {
        v = 0.0;
    }
    for (double& v : height) {
        v = 0.0;
    }
    for (int i = 0; i < 10; ++i) {
        slope_x[i] = slope_y[i] = 0.0;
    }
    for (double& v : no_slope_power) {
        v = 0.0;
    }
    points = slopes = 0.0;
}

void JetMoments::add(const JetMoments& other) {
    for (int i = 0; i < 48; ++i) {
        power[i] += other.power[i];
    }
    for (int i = 0; i < 16; ++i) {
        height[i] += other.height[i];
    }
    for (int i = 0; i < 10; ++i) {
        slope_x[i] += other.slope_x[i];
        slope_y[i] += other.slope_y[i];
    }
    for (int i = 0; i < 28; ++i) {
        no_slope_power[i] += other.no_slope_power[i];
    }
    points += other.points;
    slopes += other.slopes;
}

namespace {

// The 45 monomials x^a y^b of degree up to 8, times w, held a row of one
// degree to a whole number of pairs: x^a y^b (a + b = d) at lane b of
// row_start[d] pairs in; the lane left over in a row of odd length is 0.
// Each degree's row is the last one's times x, and its last entry the last
// one's times y; pairs keep the work in vector registers.
constexpr int row_start[10] = {0, 1, 2, 4, 6, 9, 12, 16, 20, 25};
constexpr int monomial_pairs = row_start[9];

void weighted_monomials(double x, double y, double w, Pair out[monomial_pairs]) {
    const Pair along_x = {x, x};
    out[0] = Pair{w, 0.0};
#pragma GCC unroll 8
    for (int d = 1; d <= 8; ++d) {
        const Pair* last = out + row_start[d - 1];
        Pair* row = out + row_start[d];
        const int pairs = row_start[d] - row_start[d - 1]; // the last row's
        const double end = last[(d - 1) / 2][(d - 1) % 2]; // x^0 y^(d-1)
        const int full = d % 2 == 0 ? pairs : pairs - 1;
#pragma GCC unroll 8
        for (int i = 0; i < full; ++i) {
            row[i] = last[i] * along_x;
        }
        if (d % 2 == 0) { // the last row filled its pairs: one more
            row[pairs] = Pair{end * y, 0.0};
        } else { // x^1 y^(d-1) and x^0 y^d share the last pair
            row[pairs - 1] = Pair{end, end} * Pair{x, y};
        }
    }
}

// Where each lane of the rows above goes in the moments' order (jet_index);
// -1 for a lane left over.
struct MonomialOrder {
    int at[2 * monomial_pairs] = {};
    constexpr MonomialOrder() {
        for (int i = 0; i < 2 * monomial_pairs; ++i) {
            at[i] = -1;
        }
        for (int d = 0; d <= 8; ++d) {
            for (int b = 0; b <= d; ++b) {
                at[2 * row_start[d] + b] = jet_index(d - b, b);
            }
        }
    }
};
constexpr MonomialOrder order;

// sum[jet_index] += block, lane by lane, for the monomials in pairs
// [first, first + n). Unrolled, so that the order is read when compiling:
// batches are short (a ring each), and a loop over it would cost as much.
template <int first, int n> void scatter(const Pair (&block)[n], double* sum) {
#pragma GCC unroll 64
    for (int j = 0; j < 2 * n; ++j) {
        const int at = order.at[2 * first + j];
        if (at >= 0) {
            sum[at] += block[j / 2][j % 2];
        }
    }
}

// sum[jet_index] += the sum over the batch of the monomials in pairs
// [first, first + n); the block of sums stays in registers while the points
// stream past.
template <int first, int n>
void add_columns(const Pair (*monomials)[monomial_pairs], int count, double* sum) {
    Pair block[n];
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
        block[j] = Pair{0.0, 0.0};
    }
    for (int p = 0; p < count; ++p) {
#pragma GCC unroll 16
        for (int j = 0; j < n; ++j) {
            block[j] += monomials[p][first + j];
        }
    }
    scatter<first>(block, sum);
}

// The same with each point's monomials times factor[p], from the first pair.
template <int n>
void add_scaled_columns(const Pair (*monomials)[monomial_pairs], const double* factor, int count,
                        double* sum) {
    Pair block[n];
#pragma GCC unroll 16
    for (int j = 0; j < n; ++j) {
        block[j] = Pair{0.0, 0.0};
    }
    for (int p = 0; p < count; ++p) {
        const Pair f = {factor[p], factor[p]};
#pragma GCC unroll 16
        for (int j = 0; j < n; ++j) {
            block[j] += f * monomials[p][j];
        }
    }
    scatter<0>(block, sum);
}

} // namespace

void JetMoments::add(const JetPoints& batch) {
    alignas(16) Pair monomials[JetPoints::capacity][monomial_pairs];
    for (int p = 0; p < batch.count; ++p) {
        weighted_monomials(batch.x[p], batch.y[p], batch.w[p], monomials[p]);
    }
    add_columns<0, 8>(monomials, batch.count, power);
    add_columns<8, 8>(monomials, batch.count, power);
    add_columns<16, 9>(monomials, batch.count, power);
    // Degree up to 4 for the heights, 3 for the slopes, 6 for the points
    // without a slope.
    add_scaled_columns<row_start[5]>(monomials, batch.z, batch.count, height);
    if (!with_slopes) {
        points += batch.count;
        return;
    }
    add_scaled_columns<row_start[4]>(monomials, batch.sx, batch.count, slope_x);
    add_scaled_columns<row_start[4]>(monomials, batch.sy, batch.count, slope_y);
    for (int p = 0; p < batch.count; ++p) {
        if (batch.has_slope[p]) {
            slopes += 1.0;
            continue;
        }
#pragma GCC unroll 32
        for (int j = 0; j < 2 * row_start[7]; ++j) {
            const int at = order.at[j];
            if (at >= 0) {
                no_slope_power[at] += monomials[p][j / 2][j % 2];
            }
        }
    }
    points += batch.count;
}

} // namespace preview
