#include "preview/app/report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

namespace preview {
namespace {

// What summarise counts over the pixels [begin, end): those hit, those
// saturated, and the finite measures of those hit (when the image has them).
struct Tally {
    long long hit = 0;
    long long saturated = 0;
    std::vector<float> measures;
};

void tally(const Image& image, int mapping, size_t begin, size_t end, Tally& out) {
    // Counts and pointers held here: through out and image the compiler
    // would reload them at every pixel, since push_back may write anywhere.
    const float* const rgba = image.rgba.data();
    const float* const measure =
        image.measure.size() * 4 == image.rgba.size() ? image.measure.data() : nullptr;
    long long hit = 0, saturated = 0;
    for (size_t i = begin; i < end; ++i) {
        const float* pixel = &rgba[4 * i];
        if (!(pixel[3] > 0.0f)) {
            continue;
        }
        ++hit;
        if (pixel[0] >= 1.0f || (mapping == 0 && pixel[0] <= 0.0f)) {
            ++saturated;
        }
        if (measure != nullptr && std::isfinite(measure[i])) {
            out.measures.push_back(measure[i]);
        }
    }
    out.hit = hit;
    out.saturated = saturated;
}

// The finite measure values of the pixels hit, in no order.
std::vector<float> hit_measures(const Image& image) {
    Tally all;
    tally(image, 0, 0, image.rgba.size() / 4, all);
    return std::move(all.measures);
}

// Nearest rank, for shares in ascending order: the values below which those
// shares of the values lie, as sorting them would place them. values (not
// empty) is reordered: each rank is put in place in the part above the one
// before it.
void percentiles(std::vector<float>& values, const double* shares, int count, float* out) {
    size_t from = 0;
    for (int k = 0; k < count; ++k) {
        const size_t rank = size_t(std::lround(shares[k] * double(values.size() - 1)));
        std::nth_element(values.begin() + std::ptrdiff_t(from),
                         values.begin() + std::ptrdiff_t(rank), values.end());
        out[k] = values[rank];
        from = rank;
    }
}

std::string format(const char* pattern, double a, double b = 0.0, double c = 0.0) {
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

} // namespace

RenderSummary summarise(const Image& image, int mapping) {
    RenderSummary summary;
    const size_t pixels = image.rgba.size() / 4;
    summary.pixels = static_cast<long long>(pixels);
    // One pass, on two threads for a large image (a baked map has up to 268
    // million pixels, each read once).
    const size_t bands = pixels >= (size_t(1) << 20) ? 2 : 1;
    std::vector<Tally> tallies(bands);
    std::vector<std::thread> pool;
    for (size_t b = 1; b < bands; ++b) {
        pool.emplace_back([&, b]() {
            tally(image, mapping, pixels * b / bands, pixels * (b + 1) / bands, tallies[b]);
        });
    }
    tally(image, mapping, 0, pixels / bands, tallies[0]);
    for (std::thread& thread : pool) {
        thread.join();
    }
    std::vector<float>& values = tallies[0].measures;
    for (const Tally& part : tallies) {
        summary.pixels_hit += part.hit;
        summary.saturated += part.saturated;
        if (&part != &tallies[0]) {
            values.insert(values.end(), part.measures.begin(), part.measures.end());
        }
    }
    if (!values.empty()) {
        summary.has_measure = true;
        const double shares[3] = {0.02, 0.5, 0.98};
        percentiles(values, shares, 3, summary.measure_percentiles);
    }
    return summary;
}

std::string summary_line(const std::string& path, const Image& image, double seconds,
                         const RenderSummary& summary) {
    const double hit_share =
        summary.pixels > 0 ? 100.0 * double(summary.pixels_hit) / double(summary.pixels) : 0.0;
    std::string line = path + ": " + std::to_string(image.width) + " x " +
                       std::to_string(image.height) +
                       format(" in %.2f s, %.1f%% of pixels hit; ", seconds, hit_share);
    if (summary.has_measure) {
        const float* p = summary.measure_percentiles;
        line += format("measure 2nd/50th/98th percentile %.4g / %.4g / %.4g", p[0], p[1], p[2]);
    } else {
        line += "no measure read";
    }
    return line;
}

std::vector<std::string> render_warnings(const Image& image, const RenderSummary& summary,
                                         bool method_zero, const std::string& unknown_mapping) {
    std::vector<std::string> warnings;
    if (summary.pixels_hit == 0) {
        warnings.push_back("no pixel hit the model: the image shows only the background "
                           "(a mesh without area, or outside the view?)");
        return warnings;
    }
    const double saturated = double(summary.saturated) / double(summary.pixels_hit);
    if (!unknown_mapping.empty()) {
        warnings.push_back("the connected mapping runs " + unknown_mapping +
                           ", beyond the mappings 0, 1 and 2: where it does, the shader writes "
                           "no colour and the pixel stays black (connect it within 0 to 2)");
    } else if (saturated > 0.2) {
        warnings.push_back(format("%.0f%% of the hit pixels saturate at the ends of the mapping; "
                                  "widen --range_max and --range_min, or use --auto-range",
                                  100.0 * saturated));
    }
    if (method_zero && image.hits_without_derivatives > 0) {
        const long long hits = std::max(image.samples_hit, image.hits_without_derivatives);
        warnings.push_back("method 0 found no surface derivatives at " +
                           std::to_string(image.hits_without_derivatives) + " of " +
                           std::to_string(hits) + " hits (" +
                           share_text(image.hits_without_derivatives, hits) +
                           ") and shows them flat (see --derivatives)");
    }
    return warnings;
}

std::string unknown_values(const Instance& instance, int k, int lowest, int highest) {
    const Connection& connection = instance.connections[k];
    if (connection.source == Connection::none) {
        return "";
    }
    // mi_phen_eval takes the floor of the connected value.
    const double low = std::floor(std::fmin(connection.low, connection.high));
    const double high = std::floor(std::fmax(connection.low, connection.high));
    if (low >= lowest && high <= highest) {
        return "";
    }
    return format("from %g to %g", low, high);
}

std::string share_text(long long part, long long whole) {
    if (whole <= 0 || part >= whole) {
        return "100%";
    }
    const double share = 100.0 * double(part) / double(whole);
    // Two significant digits below 1% (so a few hits do not read "0%"), one
    // decimal above, rounded down so that only the whole reads 100%.
    if (share < 0.01) {
        return "under 0.01%";
    }
    if (share < 1.0) {
        return format("%.2g%%", share);
    }
    return format("%.1f%%", std::floor(share * 10.0) / 10.0);
}

bool choose_range(const Image& image, BendlensParameters& params, std::string& note) {
    std::vector<float> values = hit_measures(image);
    if (values.empty()) {
        note = "the first render read no measure at any pixel hit";
        return false;
    }
    const double shares[2] = {0.02, 0.98};
    float spread_ends[2];
    percentiles(values, shares, 2, spread_ends);
    const double low = spread_ends[0], high = spread_ends[1];
    const std::string spread =
        format(" (2nd and 98th percentiles of the measure: %.4g, %.4g)", low, high);
    switch (params.mapping) {
    case 0: {
        // One bound for both ends, so a flat point (h = 0) stays at 0.5.
        const double bound = std::max(std::fabs(low), std::fabs(high));
        if (!(bound > 0.0) || !std::isfinite(float(bound))) {
            note = "the measure is 0 at nearly every pixel hit" + spread;
            return false;
        }
        params.range_max = params.range_min = float(bound);
        note = format("range_max %.4g, range_min %.4g", bound, bound) + spread;
        return true;
    }
    case 1:
        if (!(high > 0.0)) {
            note = "the measure is nowhere positive enough for the positive side" + spread;
            return false;
        }
        params.range_max = float(high);
        note = format("range_max %.4g", high) + spread;
        return true;
    case 2:
        if (!(low < 0.0)) {
            note = "the measure is nowhere negative enough for the negative side" + spread;
            return false;
        }
        params.range_min = float(-low);
        note = format("range_min %.4g", -low) + spread;
        return true;
    default:
        note = "the mapping has no range to choose";
        return false;
    }
}

std::string statistics_line(const Image& image) {
    std::vector<float> values;
    size_t not_a_number = 0;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        if (image.rgba[i + 3] == 1.0f) {
            if (std::isnan(image.rgba[i])) {
                ++not_a_number;
            } else {
                values.push_back(image.rgba[i]);
            }
        }
    }
    char text[320];
    if (values.empty()) {
        std::snprintf(text, sizeof text, "no fully covered pixel with a value; %zu NaN",
                      not_a_number);
        return text;
    }
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[size_t(q * double(values.size() - 1))]; };
    std::snprintf(text, sizeof text,
                  "values of %zu covered pixels: min %g, 5%% %g, median %g, 95%% %g, max %g; "
                  "%zu NaN",
                  values.size(), double(values.front()), double(at(0.05)), double(at(0.5)),
                  double(at(0.95)), double(values.back()), not_a_number);
    return text;
}

std::string timing_line(const RenderTiming& timing) {
    char text[320];
    std::snprintf(
        text, sizeof text,
        "%lld shading calls; render %.3f s; of the threads' %.3f s busy time, "
        "%.3f s (%.0f%%) inside the shader (probe rays included), %.0f ns a call",
        timing.shading_calls, timing.total_seconds, timing.thread_seconds, timing.shader_seconds,
        timing.thread_seconds > 0.0 ? 100.0 * timing.shader_seconds / timing.thread_seconds : 0.0,
        timing.shading_calls > 0 ? 1e9 * timing.shader_seconds / double(timing.shading_calls)
                                 : 0.0);
    return text;
}

std::string steps_line(const std::vector<std::pair<std::string, double>>& times) {
    std::string line = "steps:";
    double total = 0.0;
    for (const auto& [step, seconds] : times) {
        line += " " + step + format(" %.2f s,", seconds);
        total += seconds;
    }
    return line + format(" total %.2f s", total);
}

std::string fits_line(size_t fitted, size_t vertices) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "curvature fits: %zu of %zu vertices, each when a hit first needed it "
                  "(its time is in that step's)",
                  fitted, vertices);
    return text;
}

} // namespace preview
