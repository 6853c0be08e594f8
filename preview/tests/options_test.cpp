// The command line's values as the tool uses them, and the numbers it reports
// after a render. The refusals are checked through the tool itself (see
// CMakeLists.txt), since their one-line form is part of what they promise.
#include <gtest/gtest.h>

#include <vector>

#include "preview/app/options.h"
#include "preview/app/report.h"

namespace preview {
namespace {

bool parse(std::vector<const char*> arguments, Options& options, std::string& error) {
    arguments.insert(arguments.begin(), "bendlens-preview");
    return parse_options(int(arguments.size()), arguments.data(), options, error);
}

TEST(Options, ValuesReachTheirFields) {
    Options o;
    std::string error;
    ASSERT_TRUE(parse({"--view",
                       "-30.5,12",
                       "--up",
                       "z",
                       "--fov",
                       "25",
                       "--turntable",
                       "8",
                       "--derivatives",
                       "none",
                       "--rings",
                       "3",
                       "--background",
                       "#ff8000",
                       "--colormap",
                       "diverging",
                       "--legend",
                       "--auto-range",
                       "--mapping=1",
                       "--width",
                       "5",
                       "--width",
                       "7",
                       "--connect",
                       "range_max=u:0:2",
                       "--connect",
                       "mapping=v",
                       "--output",
                       "x.EXR"},
                      o, error))
        << error;
    EXPECT_EQ(o.view.azimuth, -30.5f);
    EXPECT_EQ(o.view.elevation, 12.0f);
    EXPECT_EQ(o.view.up, View::Up::z);
    EXPECT_EQ(o.view.fov, 25.0f);
    EXPECT_EQ(o.turntable, 8);
    EXPECT_EQ(o.derivatives, Options::Derivatives::none);
    EXPECT_EQ(o.rings, 3);
    EXPECT_FLOAT_EQ(o.style.background[0], 1.0f);
    EXPECT_FLOAT_EQ(o.style.background[1], 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(o.style.background[2], 0.0f);
    EXPECT_FALSE(o.style.transparent);
    EXPECT_EQ(o.style.colormap, ImageStyle::Colormap::diverging);
    EXPECT_TRUE(o.style.legend);
    EXPECT_TRUE(o.auto_range);
    EXPECT_EQ(o.params.mapping, 1);
    EXPECT_EQ(o.width, 7); // the last of a repeated option wins
    // Every --connect counts.
    EXPECT_EQ(o.connections[3].source, Connection::u);
    EXPECT_EQ(o.connections[3].high, 2.0f);
    EXPECT_EQ(o.connections[2].source, Connection::v);

    // Defaults: derivatives chosen by the scene, the plug-in found at run time.
    Options d;
    ASSERT_TRUE(parse({"--background", "transparent", "--accuracy"}, d, error)) << error;
    EXPECT_EQ(d.derivatives, Options::Derivatives::automatic);
    EXPECT_TRUE(d.plugin.empty());
    EXPECT_TRUE(d.style.transparent);
    EXPECT_TRUE(d.accuracy);
    EXPECT_EQ(d.accuracy_points, 2000);

    Options h;
    ASSERT_TRUE(parse({"--width", "0", "-h"}, h, error)); // help before any check
    EXPECT_TRUE(h.help);
}

TEST(Options, TurntableNamesAndColours) {
    EXPECT_EQ(turntable_name("out/bunny.png", 0), "out/bunny-000.png");
    EXPECT_EQ(turntable_name("a.b/spin.exr", 11), "a.b/spin-011.exr");
    EXPECT_EQ(turntable_name("a.b/spin", 999), "a.b/spin-999");
    float rgb[3] = {9, 9, 9};
    EXPECT_TRUE(parse_colour("grey", rgb));
    EXPECT_EQ(rgb[2], 0.5f);
    for (const char* bad : {"#12345", "#12345g", "#1234567", "#+12345", "purple", ""}) {
        EXPECT_FALSE(parse_colour(bad, rgb)) << bad;
    }
    EXPECT_EQ(rgb[0], 0.5f); // a refused colour leaves the old one
}

// A row of pixels: the first `hit` hit with the given output value and
// measure, the rest missed.
Image row(const std::vector<float>& measure, const std::vector<float>& value, size_t misses) {
    Image image;
    image.width = int(measure.size() + misses);
    image.height = 1;
    image.rgba.assign(size_t(image.width) * 4, 0.0f);
    image.measure.assign(size_t(image.width), 0.0f);
    for (size_t i = 0; i < measure.size(); ++i) {
        image.rgba[i * 4] = value[i];
        image.rgba[i * 4 + 3] = 1.0f;
        image.measure[i] = measure[i];
    }
    return image;
}

TEST(Report, SaturationPercentilesAndWarnings) {
    // 100 hits with measures -50..49, outputs 0 (5 of them), 1 (20) and 0.5;
    // 100 misses, whose measure of 0 must not count.
    std::vector<float> measure, value;
    for (int i = 0; i < 100; ++i) {
        measure.push_back(float(i - 50));
        value.push_back(i < 5 ? 0.0f : i >= 80 ? 1.0f : 0.5f);
    }
    const Image image = row(measure, value, 100);
    const RenderSummary two_sided = summarise(image, 0);
    EXPECT_EQ(two_sided.pixels, 200);
    EXPECT_EQ(two_sided.pixels_hit, 100);
    EXPECT_EQ(two_sided.saturated, 25);
    ASSERT_TRUE(two_sided.has_measure);
    EXPECT_EQ(two_sided.measure_percentiles[0], -48.0f);
    EXPECT_EQ(two_sided.measure_percentiles[1], 0.0f);
    EXPECT_EQ(two_sided.measure_percentiles[2], 47.0f);
    // One-sided: 0 is the dead zone, not saturation.
    EXPECT_EQ(summarise(image, 1).saturated, 20);
    EXPECT_EQ(render_warnings(image, two_sided, true).size(), 1u);
    EXPECT_TRUE(render_warnings(image, summarise(image, 1), true).empty());

    Image blank = row({}, {}, 10);
    EXPECT_EQ(render_warnings(blank, summarise(blank, 0), false).size(), 1u);
    Image flat = row({0.0f}, {0.5f}, 0);
    flat.samples_hit = 4;
    flat.hits_without_derivatives = 4;
    EXPECT_EQ(render_warnings(flat, summarise(flat, 0), true).size(), 1u);
    EXPECT_TRUE(render_warnings(flat, summarise(flat, 0), false).empty()); // not method 0
}

TEST(Report, AutoRangeFromPercentiles) {
    std::vector<float> measure, value(100, 0.5f);
    for (int i = 0; i < 100; ++i) {
        measure.push_back(2.0f - float(i) * 0.1f); // 2 .. -7.9
    }
    const Image image = row(measure, value, 50);
    std::string note;
    BendlensParameters p{0, 0, 0, 1.0f, 1.0f, 0.0f, 0.5f, 0, 16.0f, 1.0f};
    ASSERT_TRUE(choose_range(image, p, note));
    // Two-sided: one bound, the larger of |2nd| and |98th| percentile.
    EXPECT_FLOAT_EQ(p.range_max, 7.7f);
    EXPECT_EQ(p.range_min, p.range_max);
    EXPECT_NE(note.find("range_max 7.7"), std::string::npos) << note;
    // One-sided: only the side the mapping shows.
    p = {0, 0, 1, 1.0f, 1.0f, 0.0f, 0.5f, 0, 16.0f, 1.0f};
    ASSERT_TRUE(choose_range(image, p, note));
    EXPECT_FLOAT_EQ(p.range_max, 1.8f);
    EXPECT_EQ(p.range_min, 1.0f);
    p = {0, 0, 2, 1.0f, 1.0f, 0.0f, 0.5f, 0, 16.0f, 1.0f};
    ASSERT_TRUE(choose_range(image, p, note));
    EXPECT_FLOAT_EQ(p.range_min, 7.7f);
    EXPECT_EQ(p.range_max, 1.0f);

    // Nothing to choose from: the range stays as it was.
    const Image flat = row(std::vector<float>(10, 0.0f), std::vector<float>(10, 0.5f), 0);
    p.mapping = 0;
    EXPECT_FALSE(choose_range(flat, p, note));
    EXPECT_FALSE(choose_range(row({}, {}, 10), p, note));
    EXPECT_EQ(p.range_max, 1.0f);
}

} // namespace
} // namespace preview
