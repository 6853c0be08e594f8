// Renders through the real plug-in: the built-in surfaces give what their
// geometry must give, the image does not depend on the thread count, and
// the host refuses plug-ins it cannot use.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfInputFile.h>

#include <fstream>
#include <iterator>

#include "preview/accuracy.h"
#include "preview/image_io.h"
#include "preview/plugin.h"
#include "preview/render.h"

namespace {

using preview::Image;
using preview::SurfaceKind;

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(preview::load_plugin(BENDLENS_PLUGIN, plugin, error)) << error;
    }
    void TearDown() override { preview::unload_plugin(plugin); }

    // A square image of one surface at the origin.
    Image render_surface(const preview::Surface& surface, BendlensParameters params, int size = 48,
                         int spp = 2, int threads = 2, bool free_form = false) {
        preview::Scene scene;
        std::string error;
        scene.add_surface("surface", surface, {0, 0, 0}, 96, free_form);
        EXPECT_TRUE(scene.commit(error)) << error;
        preview::Instance instance;
        instance.block.params = params;
        for (int k = 0; k < preview::parameter_count; ++k) {
            instance.connections[k] = connections[k];
        }
        preview::RenderSettings settings;
        settings.width = settings.height = size;
        settings.samples_per_pixel = spp;
        settings.threads = threads;
        Image image;
        preview::render(scene, plugin, instance, settings, image);
        return image;
    }

    // The declaration's defaults with a method, a measure and a mapping.
    static BendlensParameters parameters(int method, int measure, int mapping, float range) {
        return {method, measure, mapping, range, range, 0.0f, 0.5f, 0, 16.0f, 1.0f};
    }

    preview::Plugin plugin;
    preview::Connection connections[preview::parameter_count];
};

// Runs check on the grey value of every fully covered pixel; returns their count.
template <typename Check> int covered_pixels(const Image& image, Check check) {
    int count = 0;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        if (image.rgba[i + 3] == 1.0f) {
            ++count;
            check(image.rgba[i]);
        }
    }
    return count;
}

TEST_F(Render, Method0OnASphereGivesTheInverseRadiusAsMapped) {
    // Mean curvature 1/r; the positive side maps h to h / range_max.
    for (double radius : {1.0, 2.0}) {
        const Image image =
            render_surface({SurfaceKind::sphere, radius, 1, 1}, parameters(0, 0, 1, 4.0f));
        const float expected = float(1.0 / radius / 4.0);
        const int n = covered_pixels(image, [&](float v) { EXPECT_NEAR(v, expected, 1e-4f); });
        EXPECT_GT(n, 500);
        // The Gaussian measure 1/r^2, two-sided: 0.5 + K / (2 range_max).
        const Image gaussian =
            render_surface({SurfaceKind::sphere, radius, 1, 1}, parameters(0, 1, 0, 4.0f));
        const float expected_k = float(0.5 + 1.0 / (radius * radius) / 8.0);
        covered_pixels(gaussian, [&](float v) { EXPECT_NEAR(v, expected_k, 1e-4f); });
    }
}

TEST_F(Render, ASpheresImageIsRadiallySymmetric) {
    // The camera looks at the sphere's centre, so the image is a disc: turning
    // it a quarter turn about its centre changes no pixel's coverage much,
    // and the probe method's grey depends on the distance from the centre
    // only (up to its sampling noise, averaged over rings).
    const int size = 64;
    BendlensParameters probes = parameters(2, 0, 1, 1.0f);
    probes.samples = 64.0f;
    const Image image = render_surface({SurfaceKind::sphere, 1, 1, 1}, probes, size, 4);
    double ring_sum[4][40] = {};
    int ring_count[4][40] = {};
    int differing = 0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const float* p = &image.rgba[size_t(y * size + x) * 4];
            const float* turned = &image.rgba[size_t(x * size + (size - 1 - y)) * 4];
            differing += std::fabs(p[3] - turned[3]) > 0.5f;
            if (p[3] == 1.0f) {
                const double dx = x + 0.5 - size / 2.0, dy = y + 0.5 - size / 2.0;
                const int ring = int(std::sqrt(dx * dx + dy * dy) / 4.0);
                const int quadrant = (dx > 0) * 2 + (dy > 0);
                ring_sum[quadrant][ring] += p[0];
                ring_count[quadrant][ring]++;
            }
        }
    }
    EXPECT_LE(differing, 8);
    // The innermost ring holds too few pixels to average the noise out.
    int rings_compared = 0;
    for (int ring = 1; ring < 40 && ring_count[0][ring] >= 10; ++ring) {
        ++rings_compared;
        for (int q = 1; q < 4; ++q) {
            ASSERT_GE(ring_count[q][ring], 5);
            EXPECT_NEAR(ring_sum[q][ring] / ring_count[q][ring],
                        ring_sum[0][ring] / ring_count[0][ring], 0.03)
                << "ring " << ring << " quadrant " << q;
        }
    }
    EXPECT_GE(rings_compared, 4);
}

TEST_F(Render, EachBuiltInSurfaceGivesItsCurvature) {
    // Cylinder of radius 0.7: mean 1/1.4 everywhere, Gaussian 0.
    const preview::Surface cylinder{SurfaceKind::cylinder, 0.7, 1.0, 1.0};
    covered_pixels(render_surface(cylinder, parameters(0, 0, 1, 1.0f)),
                   [](float v) { EXPECT_NEAR(v, 1.0f / 1.4f, 1e-4f); });
    covered_pixels(render_surface(cylinder, parameters(0, 1, 0, 1.0f)),
                   [](float v) { EXPECT_NEAR(v, 0.5f, 1e-4f); });
    // Ellipsoid: convex, so mean and Gaussian are positive everywhere.
    const preview::Surface ellipsoid{SurfaceKind::ellipsoid, 1.1, 0.8, 0.6};
    covered_pixels(render_surface(ellipsoid, parameters(0, 0, 0, 10.0f)),
                   [](float v) { EXPECT_GT(v, 0.5f); });
    covered_pixels(render_surface(ellipsoid, parameters(0, 1, 0, 10.0f)),
                   [](float v) { EXPECT_GT(v, 0.5f); });
    // Saddle: Gaussian negative everywhere.
    const preview::Surface saddle{SurfaceKind::saddle, 0.5, 1.0, 1.0};
    covered_pixels(render_surface(saddle, parameters(0, 1, 0, 10.0f)),
                   [](float v) { EXPECT_LT(v, 0.5f); });
    // Torus: positive Gaussian outside, negative inside; both are seen.
    const preview::Surface torus{SurfaceKind::torus, 0.8, 0.35, 1.0};
    int above = 0, below = 0;
    covered_pixels(render_surface(torus, parameters(0, 1, 0, 20.0f)), [&](float v) {
        above += v > 0.5f;
        below += v < 0.5f;
    });
    EXPECT_GT(above, 50);
    EXPECT_GT(below, 20);
    // The vertex-normal method on exact vertex normals: no NaN anywhere.
    for (const preview::Surface& s : preview::builtin_surfaces()) {
        covered_pixels(render_surface(s, parameters(1, 2, 0, 100.0f)), [&](float v) {
            EXPECT_FALSE(std::isnan(v)) << preview::surface_name(s.kind);
        });
    }
}

TEST_F(Render, Method1OnAFreeFormSurfaceFindsNoTriangle) {
    // No triangle data: the shader's vertex values stay zero, the mean is 0,
    // and the two-sided mapping shows it as flat.
    const preview::Surface sphere{SurfaceKind::sphere, 1.0, 1.0, 1.0};
    const int n = covered_pixels(render_surface(sphere, parameters(1, 0, 0, 1.0f), 32, 1, 2, true),
                                 [](float v) { EXPECT_EQ(v, 0.5f); });
    EXPECT_GT(n, 100);
}

TEST_F(Render, TheImageIsTheSameForAnyThreadCount) {
    const preview::Surface torus{SurfaceKind::torus, 0.8, 0.35, 1.0};
    const Image one = render_surface(torus, parameters(2, 0, 0, 1.0f), 40, 3, 1);
    const Image three = render_surface(torus, parameters(2, 0, 0, 1.0f), 40, 3, 3);
    ASSERT_EQ(one.rgba.size(), three.rgba.size());
    EXPECT_EQ(0, std::memcmp(one.rgba.data(), three.rgba.data(), one.rgba.size() * 4));
}

// Timings are taken only on request; asking for them changes nothing in the
// image. The benchmarks' bare mode casts rays but shades nothing.
TEST_F(Render, TimingsAndTheBareModeLeaveTheShadedImageAlone) {
    preview::Scene scene;
    std::string error;
    scene.add_surface("torus", {SurfaceKind::torus, 0.8, 0.35, 1.0}, {0, 0, 0}, 48);
    ASSERT_TRUE(scene.commit(error)) << error;
    preview::Instance instance;
    instance.block.params = parameters(2, 0, 0, 1.0f);
    preview::RenderSettings settings;
    settings.width = settings.height = 24;
    settings.threads = 2;
    Image untimed, timed, bare;
    preview::render(scene, plugin, instance, settings, untimed);
    preview::RenderTiming timing;
    preview::render(scene, plugin, instance, settings, timed, &timing);
    ASSERT_EQ(untimed.rgba.size(), timed.rgba.size());
    EXPECT_EQ(0, std::memcmp(untimed.rgba.data(), timed.rgba.data(), untimed.rgba.size() * 4));
    const int covered = covered_pixels(timed, [](float) {});
    EXPECT_GT(covered, 0);
    EXPECT_GE(timing.shading_calls, covered * settings.samples_per_pixel);

    settings.bare_rays = 16;
    preview::RenderTiming bare_timing;
    preview::render(scene, plugin, instance, settings, bare, &bare_timing);
    EXPECT_EQ(0, bare_timing.shading_calls);
    EXPECT_EQ(0, covered_pixels(bare, [](float) {}));
}

TEST_F(Render, AConnectedParameterVariesAcrossTheSurface) {
    // range_max driven by u from 1 to 4 around the cylinder: the grey
    // 0.714 / range_max, one value without the connection, then spans a
    // range across the visible half.
    const preview::Surface cylinder{SurfaceKind::cylinder, 0.7, 1.0, 1.0};
    connections[3] = {preview::Connection::u, 1.0f, 4.0f};
    float lo = 1.0f, hi = 0.0f;
    covered_pixels(render_surface(cylinder, parameters(0, 0, 1, 1.0f)), [&](float v) {
        lo = std::fmin(lo, v);
        hi = std::fmax(hi, v);
    });
    EXPECT_GT(hi - lo, 0.2f);
    EXPECT_GE(lo, 0.714f / 4.0f - 1e-4f);
    EXPECT_LE(hi, 0.714f + 1e-3f);
}

TEST_F(Render, AccuracyReportShowsMethod0ExactOnTheSphere) {
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    preview::accuracy_report(plugin, 40, 64, out);
    std::rewind(out);
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
        text += buffer;
    }
    std::fclose(out);
    const std::string row = "| sphere | 0 derivatives | mean | ";
    const size_t at = text.find(row);
    ASSERT_NE(at, std::string::npos) << text;
    const double error = std::stod(text.substr(at + row.size()));
    EXPECT_LT(error, 1e-5);
    EXPECT_NE(text.find("| saddle | 2 probe rays | Gaussian |"), std::string::npos);
}

TEST(Plugin, RefusesLibrariesItCannotUse) {
    preview::Plugin plugin;
    std::string error;
    EXPECT_FALSE(preview::load_plugin(WRONG_VERSION_PLUGIN, plugin, error));
    EXPECT_NE(error.find("has shader version 2"), std::string::npos) << error;
    EXPECT_EQ(plugin.handle, nullptr);
    EXPECT_FALSE(preview::load_plugin(MISSING_ENTRY_PLUGIN, plugin, error));
    EXPECT_NE(error.find("has no entry point bendlens"), std::string::npos) << error;
    EXPECT_FALSE(preview::load_plugin("/nonexistent/bendlens.so", plugin, error));
    EXPECT_NE(error.find("cannot load plug-in /nonexistent/bendlens.so"), std::string::npos);
}

TEST(ImageOutput, ShowsNaNInMagentaAndClampsTheRest) {
    unsigned char rgb[3];
    const float nan_pixel[4] = {NAN, NAN, NAN, 1.0f};
    preview::png_pixel(nan_pixel, rgb);
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[1], 0);
    EXPECT_EQ(rgb[2], 255);
    const float bright[4] = {INFINITY, 2.0f, -1.0f, 1.0f};
    preview::png_pixel(bright, rgb);
    EXPECT_EQ(rgb[0], 255);
    EXPECT_EQ(rgb[1], 255);
    EXPECT_EQ(rgb[2], 0);
    const float half[4] = {0.5f, 0.5f, 0.5f, 1.0f};
    preview::png_pixel(half, rgb);
    EXPECT_EQ(rgb[0], 128);
}

TEST(ImageOutput, ExrHoldsTheValuesBitForBit) {
    Image image;
    image.width = 3;
    image.height = 1;
    image.rgba = {NAN, -0.0f, 1e-30f, 1.0f, INFINITY, -3.5f, 0.1f, 0.5f, 0.75f, 0.0f, 2.0f, 0.25f};
    const std::string path = ::testing::TempDir() + "bendlens_preview_exact.exr";
    std::string error;
    ASSERT_TRUE(preview::write_image(image, path, error)) << error;
    Imf::InputFile file(path.c_str());
    std::vector<float> back(12, 7.0f);
    Imf::FrameBuffer frame;
    const char* names[4] = {"R", "G", "B", "A"};
    for (int c = 0; c < 4; ++c) {
        frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(back.data() + c),
                                          4 * sizeof(float), 12 * sizeof(float)));
    }
    file.setFrameBuffer(frame);
    file.readPixels(0, 0);
    EXPECT_EQ(0, std::memcmp(back.data(), image.rgba.data(), 12 * sizeof(float)));
    std::remove(path.c_str());
}

// The real models of scripts/fetch-models.sh, when they have been fetched.
TEST_F(Render, RealModelsLoadAndRenderWithoutNaN) {
    const std::string models = BENDLENS_MODELS_DIR;
    int found = 0;
    for (const char* name : {"bunny.obj", "teapot.obj", "dragon.obj", "dragon.ply"}) {
        std::ifstream in(models + "/" + name, std::ios::binary);
        if (!in) {
            continue;
        }
        ++found;
        const std::string text((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
        preview::Mesh mesh;
        std::string error;
        ASSERT_TRUE(preview::parse_mesh(name, text.data(), text.size(), mesh, error) &&
                    preview::prepare_mesh(mesh, error))
            << name << ": " << error;
        EXPECT_GT(mesh.triangles.size() / 3, 900u) << name; // the teapot has 992
        preview::Scene scene;
        scene.add_mesh(name, std::move(mesh), {0, 0, 0});
        ASSERT_TRUE(scene.commit(error)) << error;
        preview::Instance instance;
        instance.block.params = parameters(1, 2, 0, 100.0f);
        preview::RenderSettings settings;
        settings.width = settings.height = 32;
        settings.samples_per_pixel = 1;
        Image image;
        preview::render(scene, plugin, instance, settings, image);
        const int covered =
            covered_pixels(image, [&](float v) { EXPECT_FALSE(std::isnan(v)) << name; });
        EXPECT_GT(covered, 50) << name;
    }
    if (found == 0) {
        GTEST_SKIP() << "no models in " << models << "; run scripts/fetch-models.sh";
    }
}

TEST(ImageOutput, LeavesNoPartialFileWhenWritingFails) {
    Image image;
    image.width = image.height = 2;
    image.rgba.assign(16, 0.5f);
    std::string error;
    EXPECT_FALSE(preview::write_image(image, "/nonexistent/folder/out.png", error));
    EXPECT_FALSE(preview::write_image(image, "out.jpg", error));
    const std::string path = ::testing::TempDir() + "bendlens_preview_test.exr";
    ASSERT_TRUE(preview::write_image(image, path, error)) << error;
    EXPECT_EQ(std::remove(path.c_str()), 0);
}

} // namespace
