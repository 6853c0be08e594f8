// Height fields through a vertex and tangent to its normal, for meshes whose
// normals carry information (a tessellation's exact normals, a file's own):
// the vertex's position and normal are taken as exact, and the neighbours'
// heights and slopes, evenly weighted, fix the rest. Coordinates are in the
// vertex's tangent frame, scaled by its mean edge length.
#pragma once

namespace preview {

// A neighbour in the tangent frame, and the slope (sx, sy) of the surface
// there where its normal gives one (-nx / nz, -ny / nz).
struct PinnedPoint {
    double x, y, z;
    double sx, sy;
    bool has_slope;
};

// The quadratic z = c3 x^2 + c4 x y + c5 y^2 fitted to the points; false
// when they do not determine it. quadratic receives (c3, c4, c5).
bool fit_pinned_quadratic(const PinnedPoint* points, int count, double quadratic[3]);

// Sums over points for the cubic z = c3 x^2 + c4 x y + c5 y^2 + c6 x^3 +
// c7 x^2 y + c8 x y^2 + c9 y^3: its normal equations read them, so sets of
// points (rings) add up.
struct PinnedCubicMoments {
    double power[18];              // sum x^a y^b, 4 <= a + b <= 6, by total degree then b
    double slope_power[12];        // the same over the points with a slope, 2 <= a + b <= 4
    double height[7];              // sum z x^a y^b, 2 <= a + b <= 3
    double slope_x[5], slope_y[5]; // sum sx x^a y^b, 1 <= a + b <= 2
    double points = 0.0, slopes = 0.0;

    PinnedCubicMoments() { clear(); }
    void clear();
    void add(const PinnedPoint& point);
};

// The cubic's quadratic terms (c3, c4, c5); false when the points do not
// determine the cubic.
bool fit_pinned_cubic(const PinnedCubicMoments& moments, double quadratic[3]);

} // namespace preview
