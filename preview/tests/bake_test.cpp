// Baking through the real plug-in: the texture bake of the built-in torus
// against its exact curvature and across its seams; the baked map rendered
// back onto the torus against the shader; the vertex bake's PLY read back.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "preview/image/image_io.h"
#include "preview/image/padding.h"
#include "preview/image/texture.h"
#include "preview/mesh/load.h"
#include "preview/render/bake.h"
#include "preview/render/render.h"
#include "preview/render/vertex_bake.h"
#include "preview/render/vertex_ply.h"

namespace {

using preview::Image;
using preview::Mesh;
using preview::SurfaceKind;

const preview::Surface torus{SurfaceKind::torus, 0.75, 0.45, 1.0};

class Bake : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(preview::load_plugin(BENDLENS_PLUGIN, plugin, error)) << error;
    }
    void TearDown() override { preview::unload_plugin(plugin); }

    // The built-in torus alone, with exact or estimated derivatives.
    void make_torus(preview::Scene& scene, preview::DerivativeSource derivatives, int n = 128) {
        std::string error;
        scene.add_surface("torus", torus, {0, 0, 0}, n, false, derivatives);
        ASSERT_TRUE(scene.commit(error)) << error;
    }

    preview::BakedTile bake(const preview::Scene& scene, int size, int spp, int threads,
                            BendlensParameters params, bool principal = false,
                            const preview::Instance* connected = nullptr) {
        preview::Instance instance = connected != nullptr ? *connected : preview::Instance{};
        instance.block.params = params;
        preview::BakeSettings settings;
        settings.width = settings.height = size;
        settings.samples_per_texel = spp;
        settings.threads = threads;
        settings.read_measure = true;
        settings.read_principal = principal;
        preview::BakedTile baked;
        preview::bake_tile(scene, plugin, instance, settings, preview::UvTile{}, baked);
        return baked;
    }

    static BendlensParameters parameters(float range) {
        return {0, 0, 0, range, range, 0.0f, 0.5f, 0, 16.0f, 1.0f};
    }

    preview::Plugin plugin;
};

// The texture bake of the built-in torus at 1024 x 1024, one sample a texel
// at its centre. With exact derivatives each texel's measure is the exact
// mean curvature at the texel's parametric point to 1e-5 of the curvature's
// size there (the larger of |k1| and |k2|: the mean itself crosses zero on
// the torus, where float rounding of k1 + k2 is all that is left); with
// derivatives estimated from the mesh at fineness 128 the relative RMS error
// is at most 1%. Across the seams, where u and v wrap, the exact values are equal: the
// baked ones agree to 1e-5 (exact) and 1e-3 (estimated) of the largest mean,
// far below the change from one row to the next. The bake does not depend
// on the thread count, also with jittered samples.
TEST_F(Bake, TorusMeasureMatchesTheExactCurvatureAcrossItsSeams) {
    preview::Scene exact, estimated;
    make_torus(exact, preview::DerivativeSource::exact);
    make_torus(estimated, preview::DerivativeSource::estimated);
    const int size = 1024;
    for (const preview::Scene* scene : {&exact, &estimated}) {
        const bool is_exact = scene == &exact;
        SCOPED_TRACE(is_exact ? "exact" : "estimated");
        const preview::BakedTile baked = bake(*scene, size, 1, 2, parameters(2.0f));
        ASSERT_EQ(baked.covered, size * size);
        ASSERT_EQ(baked.overlapped, 0);
        const std::vector<float>& m = baked.image.measure;
        double error2 = 0.0, exact2 = 0.0, largest = 0.0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const double s = (x + 0.5) / size, t = 1.0 - (y + 0.5) / size;
                const preview::SurfacePoint p = preview::evaluate(torus, s, t);
                const preview::ExactCurvature c = preview::exact_curvature(p);
                const double h = m[size_t(y) * size + size_t(x)];
                const double spread = std::sqrt(std::max(c.mean * c.mean - c.gaussian, 0.0));
                const double scale =
                    std::max(std::fabs(c.mean - spread), std::fabs(c.mean + spread));
                if (is_exact) {
                    ASSERT_LE(std::fabs(h - c.mean), 1e-5 * scale) << x << ", " << y;
                }
                error2 += (h - c.mean) * (h - c.mean);
                exact2 += c.mean * c.mean;
                largest = std::max(largest, std::fabs(c.mean));
            }
        }
        EXPECT_LE(std::sqrt(error2 / exact2), is_exact ? 1e-6 : 0.01);
        double seam = 0.0, step = 0.0;
        for (size_t i = 0; i < size_t(size); ++i) {
            seam = std::max(seam, double(std::fabs(m[i * size] - m[i * size + size - 1])));
            seam = std::max(seam, double(std::fabs(m[i] - m[(size - 1) * size_t(size) + i])));
            step = std::max(step, double(std::fabs(m[i] - m[size_t(size) + i])));
        }
        EXPECT_LE(seam, (is_exact ? 1e-5 : 1e-3) * largest);
        EXPECT_GT(step, 10.0 * seam);
    }
    const preview::BakedTile one = bake(estimated, 48, 4, 1, parameters(2.0f), true);
    const preview::BakedTile three = bake(estimated, 48, 4, 3, parameters(2.0f), true);
    EXPECT_EQ(one.image.rgba, three.image.rgba);
    EXPECT_EQ(one.image.measure, three.image.measure);
    EXPECT_EQ(one.image.k1, three.image.k1);
}

// A temporary file name in the test's folder.
std::string scratch(const std::string& name) {
    return "bake-test-" + std::to_string(long(getpid())) + "-" + name;
}

// The round trip a user makes: the torus baked to an 8-bit PNG at 1024 x
// 1024, read back and rendered through its texture coordinates (bilinear),
// against the same view shaded directly. At 99% of the pixels hit away from
// silhouettes (all eight neighbours fully covered) the two PNG colours are
// within 2/255; both with exact and with estimated derivatives (a mesh
// object, whose texture coordinates reach the hit through the mesh). The
// range's ends are driven by u and v, so that the map is not symmetric in
// either: a lookup turned or flipped would not match.
TEST_F(Bake, TheBakedMapRendersLikeTheShader) {
    for (preview::DerivativeSource derivatives :
         {preview::DerivativeSource::exact, preview::DerivativeSource::estimated}) {
        SCOPED_TRACE(derivatives == preview::DerivativeSource::exact ? "exact" : "estimated");
        preview::Scene scene;
        make_torus(scene, derivatives);
        const BendlensParameters params = parameters(2.0f);
        preview::Instance instance;
        instance.connections[3] = {preview::Connection::u, 1.0f, 3.0f}; // range_max
        instance.connections[4] = {preview::Connection::v, 0.3f, 2.0f}; // range_min
        preview::BakedTile baked = bake(scene, 1024, 1, 2, params, false, &instance);
        preview::pad_image(baked.image, 16);
        const std::string path = scratch("torus.png");
        std::string error;
        preview::ImageStyle style;
        style.transparent = true;
        ASSERT_TRUE(preview::write_image(baked.image, path, style, error)) << error;
        Image texture;
        ASSERT_TRUE(preview::read_texture(path, texture, error)) << error;
        std::remove(path.c_str());

        preview::RenderSettings settings;
        settings.width = 200;
        settings.height = 150;
        settings.samples_per_pixel = 4;
        settings.threads = 2;
        settings.view.elevation = 35.0f; // the inner ring's hollow in view
        instance.block.params = params;
        Image shaded, textured;
        preview::render(scene, plugin, instance, settings, shaded);
        settings.texture = &texture;
        preview::render(scene, plugin, instance, settings, textured);

        int inner = 0, close = 0, largest = 0;
        for (int y = 1; y + 1 < settings.height; ++y) {
            for (int x = 1; x + 1 < settings.width; ++x) {
                bool interior = true;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        interior =
                            interior &&
                            shaded.rgba[size_t((y + dy) * settings.width + x + dx) * 4 + 3] == 1.0f;
                    }
                }
                if (!interior) {
                    continue;
                }
                const size_t i = size_t(y * settings.width + x) * 4;
                unsigned char a[3], b[3];
                preview::png_pixel(&shaded.rgba[i], a);
                preview::png_pixel(&textured.rgba[i], b);
                const int difference = std::abs(int(a[0]) - int(b[0]));
                ++inner;
                close += difference <= 2;
                largest = std::max(largest, difference);
            }
        }
        ASSERT_GT(inner, 5000);
        EXPECT_GE(close, 0.99 * inner) << "largest difference " << largest;
    }
}

// What a vertex bake's PLY holds, read back by hand.
struct PlyVertex {
    float x, y, z, k1, k2, mean, gaussian;
    unsigned char rgb[3];
};

bool read_vertex_ply(const std::string& path, std::string& header, std::vector<PlyVertex>& vertices,
                     std::vector<uint32_t>& faces) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    const size_t end = bytes.find("end_header\n");
    if (end == std::string::npos) {
        return false;
    }
    header = bytes.substr(0, end + 11);
    size_t vertex_count = 0, face_count = 0;
    std::sscanf(header.c_str() + header.find("element vertex"), "element vertex %zu",
                &vertex_count);
    std::sscanf(header.c_str() + header.find("element face"), "element face %zu", &face_count);
    const char* at = bytes.data() + end + 11;
    if (bytes.size() != end + 11 + vertex_count * 31 + face_count * 13) {
        return false;
    }
    vertices.resize(vertex_count);
    for (PlyVertex& v : vertices) {
        std::memcpy(&v.x, at, 28); // seven little-endian floats, as on this machine
        std::memcpy(v.rgb, at + 28, 3);
        at += 31;
    }
    for (size_t f = 0; f < face_count; ++f) {
        if (*at != 3) {
            return false;
        }
        for (int k = 0; k < 3; ++k) {
            uint32_t index = 0;
            std::memcpy(&index, at + 1 + 4 * k, 4);
            faces.push_back(index);
        }
        at += 13;
    }
    return true;
}

// The vertex bake of the torus (exact derivatives) written as PLY and read
// back: its header as MeshLab and CloudCompare read it, one vertex per
// welded position with the file's position, the faces on them; at every
// vertex the mean and Gaussian measures equal the exact curvature at its
// parameters (mean positive on the convex outer ring), k1 >= k2 from them,
// and the colour is the shader's output as the PNG shows it. Our own PLY
// reader takes the file as a mesh. On a mesh with a vertex no triangle uses,
// that vertex holds NaN and black and is counted.
TEST_F(Bake, TheVertexPlyReadsBack) {
    preview::Scene scene;
    make_torus(scene, preview::DerivativeSource::exact, 32);
    const preview::Object& object = scene.objects().front();
    preview::Instance instance;
    instance.block.params = parameters(2.0f);
    preview::VertexBake baked;
    preview::bake_vertices(scene, plugin, instance, preview::VertexBakeSettings{}, baked);
    ASSERT_EQ(baked.vertices.size(), 32u * 16u); // the seams' copies welded
    EXPECT_EQ(baked.without_estimate, 0);
    preview::ImageStyle style;
    style.colormap = preview::Colormap::diverging;
    const std::string path = scratch("torus.ply");
    std::string error;
    ASSERT_TRUE(preview::write_vertex_ply(path, object.mesh.positions, baked, style,
                                          "made by a test", error))
        << error;
    std::string header;
    std::vector<PlyVertex> vertices;
    std::vector<uint32_t> faces;
    ASSERT_TRUE(read_vertex_ply(path, header, vertices, faces));
    EXPECT_EQ(header, "ply\nformat binary_little_endian 1.0\ncomment made by a test\n"
                      "element vertex 512\nproperty float x\nproperty float y\nproperty float z\n"
                      "property float k1\nproperty float k2\nproperty float mean\n"
                      "property float gaussian\nproperty uchar red\nproperty uchar green\n"
                      "property uchar blue\nelement face " +
                          std::to_string(object.mesh.triangles.size() / 3) +
                          "\nproperty list uchar int vertex_indices\nend_header\n");
    ASSERT_EQ(vertices.size(), 512u);
    int outer = 0;
    for (size_t w = 0; w < vertices.size(); ++w) {
        const PlyVertex& v = vertices[w];
        const uint32_t source = baked.vertices[w];
        const preview::Float3 p = object.mesh.positions[source];
        EXPECT_EQ(v.x, p.x);
        EXPECT_EQ(v.z, p.z);
        const preview::Float2 st = object.mesh.uvs[source];
        const preview::ExactCurvature c =
            preview::exact_curvature(preview::evaluate(torus, st.u, st.v));
        EXPECT_NEAR(v.mean, c.mean, 1e-5) << w;
        EXPECT_NEAR(v.gaussian, c.gaussian, 1e-5) << w;
        EXPECT_GE(v.k1, v.k2);
        EXPECT_NEAR(-(v.k1 + v.k2) / 2.0f, v.mean, 1e-5);
        outer += st.v == 0.0f && v.mean > 0.0f;
        const float mapped = 0.5f + 0.25f * v.mean; // two-sided, range 2
        const float rgba[4] = {mapped, mapped, mapped, 1.0f};
        unsigned char colour[4];
        preview::png_pixel(rgba, style, colour);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(v.rgb[k], colour[k], 1) << w;
        }
    }
    EXPECT_EQ(outer, 32);
    ASSERT_EQ(faces.size(), object.mesh.triangles.size());
    for (size_t c = 0; c < faces.size(); ++c) {
        const preview::Float3 a = object.mesh.positions[object.mesh.triangles[c]];
        const preview::Float3 b = object.mesh.positions[baked.vertices[faces[c]]];
        EXPECT_TRUE(a.x == b.x && a.y == b.y && a.z == b.z) << c;
    }
    Mesh read;
    ASSERT_TRUE(preview::load_mesh(path, read, error)) << error;
    EXPECT_EQ(read.positions.size(), 512u);
    EXPECT_EQ(read.triangles, faces);
    std::remove(path.c_str());

    // A vertex no triangle uses: no estimate.
    Mesh mesh = object.mesh;
    mesh.uvs.clear();
    mesh.positions.push_back({5.0f, 5.0f, 5.0f});
    mesh.normals.push_back({0.0f, 0.0f, 1.0f});
    preview::Scene with_loose;
    with_loose.add_mesh("loose", mesh, {0, 0, 0});
    ASSERT_TRUE(with_loose.commit(error)) << error;
    preview::bake_vertices(with_loose, plugin, instance, preview::VertexBakeSettings{}, baked);
    EXPECT_EQ(baked.without_estimate, 1);
    ASSERT_TRUE(preview::write_vertex_ply(path, mesh.positions, baked, style, "", error)) << error;
    ASSERT_TRUE(read_vertex_ply(path, header, vertices, faces));
    std::remove(path.c_str());
    const PlyVertex& loose = vertices.back();
    EXPECT_EQ(loose.x, 5.0f);
    EXPECT_TRUE(std::isnan(loose.k1) && std::isnan(loose.k2) && std::isnan(loose.mean) &&
                std::isnan(loose.gaussian));
    EXPECT_EQ(loose.rgb[0] + loose.rgb[1] + loose.rgb[2], 0);
    EXPECT_TRUE(std::isfinite(vertices.front().mean));
}

} // namespace
