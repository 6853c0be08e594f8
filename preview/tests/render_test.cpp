// Renders through the real plug-in: the built-in surfaces give what their
// geometry must give, the image does not depend on the thread count, and
// the host refuses plug-ins it cannot use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include <fstream>
#include <iterator>

#include "preview/app/accuracy.h"
#include "preview/host/plugin.h"
#include "preview/image/image_io.h"
#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"
#include "preview/render/render.h"

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

// The largest of |x| and |y| over the corners of [lo, hi] projected by the
// camera (1: on the frame's edge); infinite if a corner lies behind the eye.
double widest_corner(const preview::Camera& c, preview::Float3 lo, preview::Float3 hi) {
    double widest = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        const double v[3] = {(corner & 1 ? hi.x : lo.x) - double(c.eye.x),
                             (corner & 2 ? hi.y : lo.y) - double(c.eye.y),
                             (corner & 4 ? hi.z : lo.z) - double(c.eye.z)};
        auto along = [&](const Vector& a) { return v[0] * a.x + v[1] * a.y + v[2] * a.z; };
        const double depth = along(c.forward) * c.tan_half_height;
        widest = std::max({widest, std::fabs(along(c.right) / (depth * c.aspect)),
                           std::fabs(along(c.up) / depth), depth > 0.0 ? 0.0 : INFINITY});
    }
    return widest;
}

// The camera frames a tiny, a huge and a flat model from any view: every
// corner of the bounds projects into the frame, one close to its edge (no
// needless distance), and the model is hit. Straight down the up axis the
// basis stays whole; the horizon stays level; the axes follow the View.
TEST_F(Render, TheCameraFramesAnyModelFromAnyView) {
    using Up = preview::View::Up;
    const std::pair<preview::Surface, preview::Float3> models[] = {
        {{SurfaceKind::sphere, 1e-4, 1.0, 1.0}, {2e-4f, 0.0f, 0.0f}},
        {{SurfaceKind::ellipsoid, 1e5, 3e4, 5e4}, {0.0f, 1e5f, 0.0f}},
        {{SurfaceKind::saddle, 0.0, 2.0, 1.0}, {0.0f, 0.0f, 0.0f}}}; // the square y = 0
    for (const auto& [surface, offset] : models) {
        preview::Scene scene;
        std::string error;
        scene.add_surface("model", surface, offset, 32);
        ASSERT_TRUE(scene.commit(error)) << error;
        preview::Float3 lo, hi;
        scene.bounds(lo, hi);
        for (Up up : {Up::y, Up::z}) {
            for (float azimuth : {0.0f, 37.0f, 180.0f, -120.0f}) {
                for (float elevation : {-90.0f, -45.0f, 0.0f, 16.7f, 60.0f, 90.0f}) {
                    for (float fov : {15.0f, 40.0f, 100.0f}) {
                        SCOPED_TRACE(::testing::Message() << surface.a << " " << azimuth << " "
                                                          << elevation << " " << fov);
                        const preview::Camera c = preview::frame_camera(
                            scene, fov > 50.0f ? 100 : 64, 48, {azimuth, elevation, up, fov});
                        EXPECT_NEAR(c.tan_half_height, std::tan(fov * M_PI / 360.0), 1e-6);
                        const double widest = widest_corner(c, lo, hi);
                        EXPECT_TRUE(widest > 0.9 && widest <= 1.0) << widest;
                        EXPECT_NEAR(c.up.x * c.up.x + c.up.y * c.up.y + c.up.z * c.up.z, 1.0, 1e-6);
                        EXPECT_EQ(up == Up::y ? c.right.y : c.right.z, 0.0f);
                    }
                }
                preview::Instance instance;
                instance.block.params = parameters(0, 0, 0, 1.0f);
                preview::RenderSettings settings;
                settings.width = 24;
                settings.height = 18;
                settings.samples_per_pixel = 1;
                settings.view = {azimuth, 50.0f, up, 40.0f};
                Image image;
                preview::render(scene, plugin, instance, settings, image);
                EXPECT_GT(image.samples_hit, 30) << surface.a << " " << azimuth;
            }
        }
    }
    // The default view is the preview's old one, (0, 0.3, 1) from the centre;
    // azimuth 0, elevation 0 look from +Z with Y up and from -Y with Z up;
    // azimuth 90 from +X.
    preview::Scene scene;
    std::string error;
    scene.add_surface("sphere", {SurfaceKind::sphere, 1.0, 1.0, 1.0}, {0, 0, 0}, 16);
    ASSERT_TRUE(scene.commit(error)) << error;
    const preview::Camera standard = preview::frame_camera(scene, 64, 48);
    EXPECT_NEAR(standard.eye.y / standard.eye.z, 0.3f, 1e-5f);
    const preview::Camera z_front = preview::frame_camera(scene, 64, 48, {0.0f, 0.0f, Up::z, 40});
    EXPECT_NEAR(z_front.forward.y, 1.0f, 1e-7f);
    EXPECT_NEAR(z_front.up.z, 1.0f, 1e-7f);
    const preview::Camera y_side = preview::frame_camera(scene, 64, 48, {90.0f, 0.0f, Up::y, 40});
    EXPECT_NEAR(y_side.forward.x, -1.0f, 1e-7f);
    EXPECT_NEAR(y_side.up.y, 1.0f, 1e-7f);
}

// The measure layer is the h the shader mapped at the pixel's first hit: with
// one sample a pixel, the grey is the two-sided map of that h (for method 2
// with the sample's own probe rays), whatever drives the mapping's
// parameters. Reading changes no shaded pixel; the counters count rays, hits
// and hits without derivatives.
TEST_F(Render, TheMeasureLayerReadsBackTheMappedMeasure) {
    preview::Scene scene;
    std::string error;
    // Mean curvature of both signs; behind it a sphere without derivatives.
    scene.add_surface("saddle", {SurfaceKind::saddle, 0.5, 1.0, 1.0}, {0, 0, 0}, 48);
    scene.add_surface("sphere", {SurfaceKind::sphere, 0.4, 1.0, 1.0}, {0.0f, 0.0f, -1.5f}, 32,
                      false, preview::DerivativeSource::none);
    ASSERT_TRUE(scene.commit(error)) << error;
    const size_t pixels = 40 * 30;
    auto render_image = [&](const preview::Instance& instance, bool read) {
        preview::RenderSettings settings;
        settings.width = 40;
        settings.height = 30;
        settings.samples_per_pixel = 1;
        settings.threads = 2;
        settings.read_measure = read;
        Image image;
        preview::Instance copy = instance;
        preview::render(scene, plugin, copy, settings, image);
        return image;
    };
    for (int method : {0, 2}) {
        SCOPED_TRACE(method);
        preview::Instance instance;
        instance.block.params = parameters(method, 0, 0, 0.6f);
        const Image plain = render_image(instance, false), read = render_image(instance, true);
        EXPECT_TRUE(plain.measure.empty());
        ASSERT_EQ(read.measure.size(), pixels);
        EXPECT_EQ(0, std::memcmp(plain.rgba.data(), read.rgba.data(), pixels * 16));
        int negative = 0, positive = 0, covered = 0;
        for (size_t i = 0; i < pixels; ++i) {
            const float h = read.measure[i];
            if (read.rgba[4 * i + 3] == 0.0f) {
                EXPECT_EQ(h, 0.0f);
                continue;
            }
            ++covered;
            negative += h < -0.01f;
            positive += h > 0.01f;
            const float mapped = h > 0.6f    ? 1.0f
                                 : h < -0.6f ? 0.0f
                                 : h > 0.0f  ? float(h / 0.6f * 0.5f + 0.5)
                                             : float(0.5 - double(h / -0.6f * 0.5f));
            ASSERT_NEAR(read.rgba[4 * i], mapped, 1e-6f) << "pixel " << i << " h " << h;
        }
        EXPECT_GT(negative, method == 0 ? 20 : -1); // method 2 measures an angle
        EXPECT_GT(positive, 20);
        EXPECT_EQ(read.samples_cast, 40 * 30);
        EXPECT_EQ(read.samples_hit, covered);
        EXPECT_GT(read.hits_without_derivatives, 10); // the sphere's
        EXPECT_LT(read.hits_without_derivatives, covered / 2);

        // Mapping, range and threshold driven by the hit: the image changes,
        // the measure does not, and reading leaves the image unchanged.
        instance.connections[2] = {preview::Connection::u, 0.0f, 2.99f};
        instance.connections[3] = {preview::Connection::v, 0.2f, 3.0f};
        instance.connections[5] = {preview::Connection::u, -0.1f, 0.3f};
        const Image driven = render_image(instance, false),
                    driven_read = render_image(instance, true);
        EXPECT_NE(0, std::memcmp(driven.rgba.data(), plain.rgba.data(), pixels * 16));
        EXPECT_EQ(0, std::memcmp(driven.rgba.data(), driven_read.rgba.data(), pixels * 16));
        EXPECT_EQ(0, std::memcmp(driven_read.measure.data(), read.measure.data(), pixels * 4));
    }
}

// k1 and k2 from the mean and Gaussian curvature read back: a sphere gives
// k1 = k2 = -1/r (convex: negative), also where K = 1e8 saturates the first
// read; a cylinder 0 and -1/r. Method 2 gives its one value twice, method 1
// no layers.
TEST_F(Render, PrincipalCurvaturesReadBack) {
    struct Case {
        preview::Surface surface;
        int method;
        double k1, k2;
    };
    const Case cases[] = {{{SurfaceKind::sphere, 0.5, 1.0, 1.0}, 0, -2.0, -2.0},
                          {{SurfaceKind::sphere, 1e-4, 1.0, 1.0}, 0, -1e4, -1e4},
                          {{SurfaceKind::cylinder, 0.7, 1.0, 1.0}, 0, 0.0, -1.0 / 0.7},
                          {{SurfaceKind::sphere, 0.5, 1.0, 1.0}, 2, NAN, NAN},
                          {{SurfaceKind::sphere, 0.5, 1.0, 1.0}, 1, NAN, NAN}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.surface.a << " method " << c.method);
        preview::Scene scene;
        std::string error;
        scene.add_surface("surface", c.surface, {0, 0, 0}, 64);
        ASSERT_TRUE(scene.commit(error)) << error;
        preview::Instance instance;
        // The measure parameter says Gaussian; the read-back sets its own.
        instance.block.params = parameters(c.method, 1, 0, 1.0f);
        preview::RenderSettings settings;
        settings.width = settings.height = 24;
        settings.samples_per_pixel = 1;
        settings.read_measure = settings.read_principal = true;
        Image image;
        preview::render(scene, plugin, instance, settings, image);
        ASSERT_EQ(image.k1.size(), c.method == 1 ? 0u : 24u * 24u);
        int checked = 0;
        for (size_t i = 0; i < image.k1.size(); ++i) {
            if (image.rgba[4 * i + 3] != 1.0f) {
                continue;
            }
            ++checked;
            if (c.method == 2) { // the measure layer holds K = k^2, k = -H <= 0
                ASSERT_EQ(image.k1[i], image.k2[i]);
                ASSERT_LE(image.k1[i], 0.0f);
                ASSERT_NEAR(double(image.k1[i]) * image.k1[i], image.measure[i],
                            1e-5 * image.measure[i]);
                continue;
            }
            const double scale = std::fabs(c.k2);
            ASSERT_NEAR(image.k1[i], c.k1, 2e-3 * scale) << "pixel " << i;
            ASSERT_NEAR(image.k2[i], c.k2, 2e-3 * scale) << "pixel " << i;
            ASSERT_NEAR(image.measure[i], c.k1 * c.k2, 1e-4 * c.k2 * c.k2);
        }
        EXPECT_GT(checked, c.method == 1 ? -1 : 50);
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
