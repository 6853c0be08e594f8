#include "preview/mesh/jet_fit.h"

#include <cmath>

namespace preview {
namespace {

// Below this ratio of the smallest to the largest pivot of the normal
// equations (scaled to a unit diagonal) the points do not pin the jet down.
constexpr double smallest_pivot = 1e-10;

// The exponents of each term, by jet_index.
struct Exponents {
    int a[max_jet_terms], b[max_jet_terms];
    constexpr Exponents() : a(), b() {
        for (int d = 0, k = 0; d <= max_jet_degree; ++d) {
            for (int j = 0; j <= d; ++j, ++k) {
                a[k] = d - j;
                b[k] = j;
            }
        }
    }
};

// Two doubles that the compiler keeps in one vector register: the solver's
// rows run in pairs (GCC's and Clang's vector extension; plain pairs of
// scalars where the target has no such registers).
typedef double Pair __attribute__((vector_size(16)));
constexpr int row_pairs = (max_jet_terms + 1) / 2;
// The normal equations, each row padded to a whole number of pairs.
using NormalMatrix = Pair[max_jet_terms][row_pairs];

// Through a pointer to the lanes: Clang binds no reference to one lane of
// a vector, and both compilers let a vector's lanes be read and written as
// an array of its element type.
double& entry(NormalMatrix& m, int i, int k) {
    return reinterpret_cast<double*>(&m[i][k / 2])[k % 2];
}

// Solves the symmetric positive definite system m x = r of size n in place
// (Cholesky on the system scaled to a unit diagonal; only the upper
// triangle of m is read, the rest may hold anything finite); false when it
// is singular or too close to it. The factor is formed by rows, each step
// updating whole rows below it two entries at a time, so that no long chain
// of dependent sums holds the processor up.
template <int n> bool solve_fixed(NormalMatrix& m, double (&r)[max_jet_terms]) {
    constexpr int width = (n + 1) / 2;
    Pair scale[row_pairs] = {};
    for (int i = 0; i < n; ++i) {
        const double diagonal = entry(m, i, i);
        if (!(diagonal > 0.0) || !std::isfinite(diagonal)) {
            return false;
        }
        scale[i / 2][i % 2] = 1.0 / std::sqrt(diagonal);
    }
    for (int i = 0; i < n; ++i) {
        for (int k = 0; k < width; ++k) {
            m[i][k] *= scale[i / 2][i % 2] * scale[k];
        }
        r[i] *= scale[i / 2][i % 2];
    }
    // Upper factor in place, m = U' U, keeping 1 / U(j, j) in inverse. Row
    // by row: each row takes the updates of the rows above it, in their
    // order, while it is held in registers, and is written once; unrolled
    // whole, so that every bound is known when compiling.
    double inverse[n];
#pragma GCC unroll 16
    for (int i = 0; i < n; ++i) {
        Pair row[width];
#pragma GCC unroll 8
        for (int k = 0; k < width; ++k) {
            row[k] = m[i][k];
        }
#pragma GCC unroll 16
        for (int j = 0; j < i; ++j) {
            const double u = entry(m, j, i);
#pragma GCC unroll 8
            for (int k = j / 2; k < width; ++k) {
                row[k] -= u * m[j][k];
            }
        }
        const double pivot = row[i / 2][i % 2];
        if (!(pivot > smallest_pivot)) {
            return false;
        }
        inverse[i] = 1.0 / std::sqrt(pivot);
#pragma GCC unroll 8
        for (int k = i / 2; k < width; ++k) {
            row[k] *= inverse[i];
        }
#pragma GCC unroll 8
        for (int k = 0; k < width; ++k) {
            m[i][k] = row[k];
        }
    }
#pragma GCC unroll 16
    for (int i = 0; i < n; ++i) { // U' y = r
        r[i] *= inverse[i];
#pragma GCC unroll 16
        for (int k = i + 1; k < n; ++k) {
            r[k] -= entry(m, i, k) * r[i];
        }
    }
#pragma GCC unroll 16
    for (int i = n - 1; i >= 0; --i) { // U x = y
        double sum = r[i];
#pragma GCC unroll 16
        for (int k = i + 1; k < n; ++k) {
            sum -= entry(m, i, k) * r[k];
        }
        r[i] = sum * inverse[i];
    }
    for (int i = 0; i < n; ++i) {
        r[i] *= scale[i / 2][i % 2];
    }
    return true;
}

bool solve_normal_equations(NormalMatrix& m, double (&r)[max_jet_terms], int n) {
    switch (n) {
    case jet_terms(2):
        return solve_fixed<jet_terms(2)>(m, r);
    case jet_terms(3):
        return solve_fixed<jet_terms(3)>(m, r);
    case jet_terms(4):
        return solve_fixed<jet_terms(4)>(m, r);
    default:
        return false;
    }
}

// Where each entry of the normal equations comes from, for term pairs
// (k, l), l <= k, at k (k + 1) / 2 + l: the moment of the heights' product
// x^(ak+al) y^(bk+bl), and the slopes' products ak al x^(ak+al-2) y^(bk+bl)
// and bk bl x^(ak+al) y^(bk+bl-2) (a factor 0 where an exponent is 0).
struct PairSources {
    int power[120] = {}, along_x[120] = {}, along_y[120] = {};
    double factor_x[120] = {}, factor_y[120] = {};
    // And for each term k, its slope sources: ak x^(ak-1) y^bk, bk x^ak y^(bk-1).
    int slope_x[max_jet_terms] = {}, slope_y[max_jet_terms] = {};
    double slope_factor_x[max_jet_terms] = {}, slope_factor_y[max_jet_terms] = {};
    constexpr PairSources() {
        const Exponents e;
        for (int k = 0; k < max_jet_terms; ++k) {
            for (int l = 0; l <= k; ++l) {
                const int at = k * (k + 1) / 2 + l;
                const int sa = e.a[k] + e.a[l], sb = e.b[k] + e.b[l];
                power[at] = jet_index(sa, sb);
                factor_x[at] = e.a[k] * e.a[l];
                along_x[at] = factor_x[at] > 0 ? jet_index(sa - 2, sb) : 0;
                factor_y[at] = e.b[k] * e.b[l];
                along_y[at] = factor_y[at] > 0 ? jet_index(sa, sb - 2) : 0;
            }
            slope_factor_x[k] = e.a[k];
            slope_x[k] = e.a[k] > 0 ? jet_index(e.a[k] - 1, e.b[k]) : 0;
            slope_factor_y[k] = e.b[k];
            slope_y[k] = e.b[k] > 0 ? jet_index(e.a[k], e.b[k] - 1) : 0;
        }
    }
};
constexpr PairSources sources;

// The monomial of each product of two terms, by row i and column k: the
// heights' normal equations.
struct Products {
    int at[max_jet_terms][max_jet_terms] = {};
    constexpr Products() {
        const Exponents e;
        for (int i = 0; i < max_jet_terms; ++i) {
            for (int k = 0; k < max_jet_terms; ++k) {
                at[i][k] = jet_index(e.a[i] + e.a[k], e.b[i] + e.b[k]);
            }
        }
    }
};
constexpr Products products;

// Entry (i, k) of the heights' normal equations of n terms in the upper
// triangle; 0 below it and past the last term.
double product_moment(const JetMoments& moments, int n, int i, int k) {
    return k >= i && k < n ? moments.power[products.at[i][k]] : 0.0;
}

// The normal equations of the heights alone for n terms, written a pair at
// a time; unrolled whole, so that every moment's place is known when
// compiling.
template <int n>
void heights_only(const JetMoments& moments, NormalMatrix& m, double (&r)[max_jet_terms]) {
#pragma GCC unroll 16
    for (int i = 0; i < n; ++i) {
#pragma GCC unroll 8
        for (int k = 0; k < row_pairs; ++k) {
            m[i][k] = Pair{product_moment(moments, n, i, 2 * k),
                           product_moment(moments, n, i, 2 * k + 1)};
        }
        r[i] = moments.height[i];
    }
}

// The normal equations of heights and slopes together, the slopes weighted
// by slope_weight; they weigh only the points that have one.
void add_slopes(const JetMoments& moments, int n, double slope_weight, NormalMatrix& m,
                double (&r)[max_jet_terms]) {
    for (int k = 0; k < n; ++k) { // the lower triangle stays 0
        for (Pair& pair : m[k]) {
            pair = Pair{0.0, 0.0};
        }
    }
    double slope_power[28];
    for (int i = 0; i < 28; ++i) {
        slope_power[i] = slope_weight * (moments.power[i] - moments.no_slope_power[i]);
    }
    for (int k = 0, at = 0; k < n; ++k) {
        for (int l = 0; l <= k; ++l, ++at) {
            entry(m, l, k) = moments.power[sources.power[at]] +
                             sources.factor_x[at] * slope_power[sources.along_x[at]] +
                             sources.factor_y[at] * slope_power[sources.along_y[at]];
        }
        r[k] = moments.height[k] +
               slope_weight * (sources.slope_factor_x[k] * moments.slope_x[sources.slope_x[k]] +
                               sources.slope_factor_y[k] * moments.slope_y[sources.slope_y[k]]);
    }
}

} // namespace

bool fit_jet(const JetMoments& moments, int degree, double slope_weight, const Jet* prior,
             double prior_weight, Jet& jet) {
    if (degree < 2 || degree > max_jet_degree) {
        return false;
    }
    if (!moments.with_slopes) {
        slope_weight = 0.0;
    }
    const int n = jet_terms(degree);
    const double equations = moments.points + (slope_weight > 0.0 ? 2.0 * moments.slopes : 0.0);
    if (equations < double(n + 1)) {
        return false; // a fit is never a bare interpolation
    }
    NormalMatrix m;
    double r[max_jet_terms];
    if (slope_weight == 0.0) {
        // Heights alone (the slopes' terms would add exact zeros).
        switch (n) {
        case jet_terms(2):
            heights_only<jet_terms(2)>(moments, m, r);
            break;
        case jet_terms(3):
            heights_only<jet_terms(3)>(moments, m, r);
            break;
        default:
            heights_only<jet_terms(4)>(moments, m, r);
            break;
        }
    } else {
        add_slopes(moments, n, slope_weight, m, r);
    }
    if (prior != nullptr && prior_weight > 0.0) {
        const int known = jet_terms(prior->degree);
        for (int k = jet_terms(2); k < n; ++k) {
            const double pull = prior_weight * entry(m, k, k);
            entry(m, k, k) += pull;
            r[k] += pull * (k < known ? prior->c[k] : 0.0);
        }
    }
    if (!solve_normal_equations(m, r, n)) {
        return false;
    }
    jet.degree = degree;
    for (int k = 0; k < max_jet_terms; ++k) {
        jet.c[k] = k < n ? r[k] : 0.0;
        if (!std::isfinite(jet.c[k])) {
            return false;
        }
    }
    return true;
}

} // namespace preview
