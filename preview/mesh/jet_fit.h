// A polynomial height field fitted around one vertex: z = sum of c x^a y^b
// over a + b <= degree (2 to 4) in the vertex's tangent frame, by weighted
// least squares on the neighbours' positions and, where the normals carry
// information, on the slopes their normals give (-nx / nz, -ny / nz).
//
// The fit reads only weighted sums of monomials over the points (moments):
// a neighbourhood is summed once, ring by ring, and the fits of every degree
// and every ring count come from those sums without visiting a point again.
#pragma once

namespace preview {

// The most terms a fit takes: the quartic's 15.
constexpr int jet_terms(int degree) {
    return (degree + 1) * (degree + 2) / 2;
}
constexpr int max_jet_degree = 4;
constexpr int max_jet_terms = jet_terms(max_jet_degree);

// Monomial x^a y^b has index jet_index(a, b): by total degree, then by b.
constexpr int jet_index(int a, int b) {
    return (a + b) * (a + b + 1) / 2 + b;
}

// Points in the tangent frame, gathered to be summed in one pass: a point at
// (x, y, z) of weight w, and the slope (sx, sy) of the surface there where
// its normal gives one.
struct JetPoints {
    static constexpr int capacity = 64;
    double x[capacity], y[capacity], z[capacity], w[capacity];
    double sx[capacity], sy[capacity];
    bool has_slope[capacity];
    int count = 0;
};

struct JetMoments {
    double power[48];                // sum w x^a y^b, a + b <= 8 (45 used): the normal equations
    double height[16];               // sum w z x^a y^b, a + b <= 4 (15 used)
    double slope_x[10], slope_y[10]; // sum w sx x^a y^b, a + b <= 3
    // power over the points without a slope, a + b <= 6: the slopes' normal
    // equations take the rest of power.
    double no_slope_power[28];
    double points = 0.0, slopes = 0.0; // how many of each
    // False for a positions-only fit: the sums that only slopes read
    // (slope_x, slope_y, no_slope_power) are not kept, and every fit from
    // these moments weighs the slopes 0. Set before the first point.
    bool with_slopes = true;

    JetMoments() { clear(); }
    void clear();
    void add(const JetMoments& other);
    void add(const JetPoints& batch);
};

// The largest exponent s a Gaussian weight e^-s is computed for: about
// float's smallest normal number.
constexpr double farthest_weight_exponent = 87.0;

// Turns each point's s = squared distance / width^2 (at most
// farthest_weight_exponent), held in w, into its Gaussian weight e^-s, to
// float's precision.
void weigh_gaussian(JetPoints& batch);

struct Jet {
    int degree = 0;
    double c[max_jet_terms] = {}; // by jet_index
};

// Fits a jet of the given degree with the slopes weighted by slope_weight
// against the heights. With a prior, the terms of degree 3 and up are drawn
// towards the prior's by prior_weight times their own diagonal: where the
// points leave some of them undetermined (an irregular ring), they follow
// the prior instead of the model error. False when the points do not
// determine the fit (too few, or degenerate: collinear, all in one spot).
bool fit_jet(const JetMoments& moments, int degree, double slope_weight, const Jet* prior,
             double prior_weight, Jet& jet);

} // namespace preview
