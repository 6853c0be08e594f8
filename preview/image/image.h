// The picture the host makes, as values: what the PNG and EXR writers take.
#pragma once

#include <vector>

namespace preview {

// Red, green, blue and coverage per pixel, rows from the top. A pixel's colour
// is the mean of what the shader wrote at its samples that hit a surface (a
// NaN at any of them makes the pixel NaN); coverage is the share of its
// samples that hit. A pixel no sample hit is (0, 0, 0, 0).
struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;
    // One value per pixel, when asked for (RenderSettings::read_measure,
    // read_principal); empty otherwise. A pixel no sample hit holds 0 and
    // coverage 0 in rgba. k1 >= k2, against the outward normal (a convex
    // surface has negative k, as mean = -(k1 + k2) / 2 is positive there).
    // Method 1 gives no principal curvatures: with it the layers stay empty,
    // and where a connected method is 1 at a hit they hold NaN.
    std::vector<float> measure; // the signed measure h the shader mapped
    std::vector<float> k1, k2;  // principal curvatures (methods 0 and 2 only)
    // What the render saw, for the summary line and its warnings.
    long long samples_cast = 0;             // primary rays
    long long samples_hit = 0;              // of them, those that hit a surface
    long long hits_without_derivatives = 0; // hits whose state had no derivatives
};

} // namespace preview
