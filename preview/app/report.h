// What a render showed, in numbers: the line the tool prints on success, its
// warnings, and the range --auto-range chooses from the measure.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "preview/render/render.h"

namespace preview {

struct RenderSummary {
    long long pixels = 0;
    long long pixels_hit = 0; // pixels any sample hit
    // Of those, pixels whose output lies at an end of the mapping: 0 or 1
    // and beyond in the two-sided mapping, which does not clamp; 1 in the
    // one-sided ones, whose 0 is the dead zone by design.
    long long saturated = 0;
    // The 2nd, 50th and 98th percentile of the raw measure over the pixels
    // hit, when the render read it (Image::measure) and it has finite values.
    bool has_measure = false;
    float measure_percentiles[3] = {};
};

RenderSummary summarise(const Image& image, int mapping);

// "out.png: 640 x 480 in 1.2 s, 41.3% of pixels hit; measure 2nd/50th/98th
// percentile -0.4 / 0.01 / 0.9".
std::string summary_line(const std::string& path, const Image& image, double seconds,
                         const RenderSummary& summary);

// Warnings, each one line without the tool's prefix: nothing hit, more than
// a fifth of the hit pixels saturated, method 0 at hits with no derivatives.
// unknown_mapping, when not empty, says where a connected mapping takes
// values the shader does not know (unknown_values); the shader then writes
// no colour, which is said instead of the saturation warning, whose count
// does not hold then.
std::vector<std::string> render_warnings(const Image& image, const RenderSummary& summary,
                                         bool method_zero, const std::string& unknown_mapping = "");

// For an integer parameter k connected to u or v: its values run over the
// whole numbers from floor(LOW) to floor(HIGH). When some lie outside
// [lowest, highest], says so ("from 5 to 6"); otherwise, or when k is not
// connected, "".
std::string unknown_values(const Instance& instance, int k, int lowest, int highest);

// A share in percent for a warning: "100%" only when part is whole, never
// "0%" for a part above zero, and never a power of ten ("1e+02%").
std::string share_text(long long part, long long whole);

// Chooses the range for --auto-range from the measure's 2nd and 98th
// percentiles: one symmetric bound for both ends in the two-sided mapping
// (mapping 0), so a measure of 0 stays at 0.5; range_max alone for the
// positive side (1) and range_min alone for the negative side (2). False,
// leaving params alone, when the measure gives no usable end (nothing hit,
// no measure read, or the side is zero everywhere); note says what was
// chosen or why not.
bool choose_range(const Image& image, BendlensParameters& params, std::string& note);

// --stats: the spread of the values of fully covered pixels, so that a user
// can choose range_max for a new model: "values of N covered pixels: min,
// 5%, median, 95%, max; N NaN".
std::string statistics_line(const Image& image);

// --stats: where the render's time went, the shading calls and their cost.
std::string timing_line(const RenderTiming& timing);

// --stats: each step's time, in the order the steps ran, and their sum:
// "steps: read 0.21 s, weld 0.05 s, ..., total 1.10 s".
std::string steps_line(const std::vector<std::pair<std::string, double>>& times);
// With --stats, after the steps: how many of the estimated vertices hits
// needed, and so fitted.
std::string fits_line(size_t fitted, size_t vertices);

} // namespace preview
