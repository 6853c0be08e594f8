// Estimated curvature on triangle meshes: the sign and size a loaded mesh
// hands method 0, seams that must not read as boundaries, interpolation that
// does not depend on the frame, and bad meshes that must give finite
// derivatives or none.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "preview/app/accuracy.h"
#include "preview/host/plugin.h"
#include "preview/mesh/curvature.h"
#include "preview/mesh/load.h"
#include "preview/mesh/weld.h"
#include "preview/scene/scene.h"
#include "preview/scene/surfaces.h"

namespace {

using preview::Float3;
using preview::Mesh;

constexpr double pi = 3.141592653589793;

// Writes positions and triangles as an OBJ file (no normals: the loader
// takes them from the winding) and loads it as the preview does.
Mesh load_through_obj(const Mesh& mesh, const std::string& name) {
    const std::string path = ::testing::TempDir() + name + ".obj";
    {
        std::ofstream out(path);
        out.precision(9);
        for (const Float3& p : mesh.positions) {
            out << "v " << p.x << ' ' << p.y << ' ' << p.z << '\n';
        }
        for (size_t t = 0; t < mesh.triangles.size(); t += 3) {
            out << "f " << mesh.triangles[t] + 1 << ' ' << mesh.triangles[t + 1] + 1 << ' '
                << mesh.triangles[t + 2] + 1 << '\n';
        }
    }
    Mesh loaded;
    std::string error;
    EXPECT_TRUE(preview::load_mesh(path, loaded, error)) << error;
    std::remove(path.c_str());
    return loaded;
}

// The mean measure -(k1 + k2) / 2 of a hit's derivatives (the fundamental
// forms of surfaces.h, with the hit's normal).
double mean_of(const preview::Hit& hit) {
    preview::SurfacePoint point{};
    point.normal = {hit.normal.x, hit.normal.y, hit.normal.z};
    for (int k = 0; k < 5; ++k) {
        point.derivs[k] = {hit.derivs[k].x, hit.derivs[k].y, hit.derivs[k].z};
    }
    return preview::exact_curvature(point).mean;
}

// The mean measure where a ray from `from` towards `to` meets the scene.
double mean_at(const preview::Scene& scene, Float3 from, Float3 to) {
    const float dx = to.x - from.x, dy = to.y - from.y, dz = to.z - from.z;
    const float length = std::sqrt(dx * dx + dy * dy + dz * dz);
    preview::Hit hit;
    if (!scene.intersect({from.x, from.y, from.z}, {dx / length, dy / length, dz / length}, nullptr,
                         hit) ||
        !hit.has_derivs) {
        ADD_FAILURE() << "no hit with derivatives towards " << to.x << ", " << to.y;
        return NAN;
    }
    return mean_of(hit);
}

// z = a cos(kx) cos(ky) over [-2 pi / k, 2 pi / k]^2, wound counter-clockwise
// seen from above (normals up) or the other way.
Mesh height_field(double a, double k, int n, bool upward) {
    Mesh mesh;
    const double half = 2.0 * pi / k;
    for (int j = 0; j <= n; ++j) {
        for (int i = 0; i <= n; ++i) {
            const double x = -half + 2.0 * half * i / n, y = -half + 2.0 * half * j / n;
            mesh.positions.push_back(
                {float(x), float(y), float(a * std::cos(k * x) * std::cos(k * y))});
        }
    }
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const uint32_t v = uint32_t(j * (n + 1) + i), right = v + 1, up = v + uint32_t(n + 1);
            if (upward) {
                mesh.triangles.insert(mesh.triangles.end(), {v, right, up + 1, v, up + 1, up});
            } else {
                mesh.triangles.insert(mesh.triangles.end(), {v, up + 1, right, v, up, up + 1});
            }
        }
    }
    return mesh;
}

TEST(MeshCurvature, LoadedMeshesGiveSignedMeanCurvatureOfTheRightSize) {
    // Peaks are convex (mean +a k^2 with normals up), pits concave (-a k^2);
    // the other winding turns the normals down and the signs over.
    const double a = 0.2, k = 1.5;
    for (bool upward : {true, false}) {
        preview::Scene scene;
        scene.add_mesh("field", load_through_obj(height_field(a, k, 96, upward), "field"),
                       {0, 0, 0});
        std::string error;
        ASSERT_TRUE(scene.commit(error)) << error;
        const double sign = upward ? 1.0 : -1.0;
        const float pit = float(pi / k);
        EXPECT_NEAR(mean_at(scene, {0.01f, 0.02f, 5}, {0.01f, 0.02f, 0}), sign * a * k * k, 0.02);
        EXPECT_NEAR(mean_at(scene, {pit, 0.01f, 5}, {pit, 0.01f, 0}), -sign * a * k * k, 0.02);
        EXPECT_NEAR(mean_at(scene, {pit, pit, 5}, {pit, pit, 0}), sign * a * k * k, 0.02);
    }
    // A sphere of radius 2, split at its seam as a tessellation is: mean 1/2
    // everywhere, the seam and the poles included.
    std::vector<float> uv;
    preview::Scene scene;
    scene.add_mesh(
        "sphere",
        load_through_obj(preview::tessellate({preview::SurfaceKind::sphere, 2, 2, 2}, 64, 32, uv),
                         "sphere"),
        {0, 0, 0});
    std::string error;
    ASSERT_TRUE(scene.commit(error)) << error;
    const Float3 directions[] = {{1, 0.1f, 0.01f},
                                 {0.02f, 1, 0.01f},
                                 {0.03f, -1, 0.02f},
                                 {-1, 0.2f, 0.3f},
                                 {0.5f, 0.5f, -0.7f}};
    for (const Float3& d : directions) {
        EXPECT_NEAR(mean_at(scene, {5 * d.x, 5 * d.y, 5 * d.z}, {0, 0, 0}), 0.5, 0.005);
    }
}

TEST(MeshCurvature, ASeamGivesTheSameEstimateAsTheWeldedMesh) {
    // The tessellation repeats the seam's and the poles' vertices, as mesh
    // files do at UV seams; the welded copy shares them.
    std::vector<float> uv;
    const Mesh split =
        preview::tessellate({preview::SurfaceKind::ellipsoid, 1.1, 0.8, 0.6}, 48, 24, uv);
    const std::vector<uint32_t> representative = preview::weld_positions(split.positions);
    Mesh welded = split;
    for (uint32_t& index : welded.triangles) {
        index = representative[index];
    }
    preview::VertexCurvature from_split, from_welded;
    preview::estimate_vertex_curvature(split, {}, from_split);
    preview::estimate_vertex_curvature(welded, {}, from_welded);
    int seam_vertices = 0;
    for (size_t v = 0; v < split.positions.size(); ++v) {
        const uint32_t w = representative[v];
        seam_vertices += w != v;
        ASSERT_TRUE(from_split.valid[v] && from_welded.valid[w]) << v;
        const preview::CurvatureTensor &s = from_split.tensors[v], &t = from_welded.tensors[w];
        const float scale = 1e-5f * (std::fabs(t.xx) + std::fabs(t.yy) + std::fabs(t.zz));
        EXPECT_NEAR(s.xx, t.xx, scale) << v;
        EXPECT_NEAR(s.xy, t.xy, scale) << v;
        EXPECT_NEAR(s.yz, t.yz, scale) << v;
        EXPECT_NEAR(s.zz, t.zz, scale) << v;
    }
    EXPECT_GT(seam_vertices, 24);
}

// The second fundamental form of five derivative vectors, as a world
// tensor: L t1 t1' + M (t1 t2' + t2 t1') + N t2 t2' for the unit normal n.
void world_form(const Float3 d[5], const Float3& n, double out[3][3]) {
    const double t1[3] = {d[0].x, d[0].y, d[0].z}, t2[3] = {d[1].x, d[1].y, d[1].z};
    auto along = [&](const Float3& v) { return double(v.x) * n.x + double(v.y) * n.y + v.z * n.z; };
    const double l = along(d[2]), nn = along(d[3]), m = along(d[4]);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i][j] =
                l * t1[i] * t1[j] + m * (t1[i] * t2[j] + t2[i] * t1[j]) + nn * t2[i] * t2[j];
        }
    }
}

TEST(MeshCurvature, InterpolationTurnsWithTheMesh) {
    // An ellipsoid (distinct principal curvatures that turn from vertex to
    // vertex) and the same mesh rotated: at the same barycentric points the
    // derivatives' second fundamental form is the rotated one, whatever
    // tangent pair each side chose.
    std::vector<float> uv;
    const Mesh mesh =
        preview::tessellate({preview::SurfaceKind::ellipsoid, 1.1, 0.8, 0.6}, 40, 20, uv);
    const double c = std::cos(0.7), s = std::sin(0.7), c2 = std::cos(1.9), s2 = std::sin(1.9);
    // A rotation about z, then about x.
    const double r[3][3] = {{c, -s, 0}, {c2 * s, c2 * c, -s2}, {s2 * s, s2 * c, c2}};
    auto turn = [&](Float3 p) {
        return Float3{float(r[0][0] * p.x + r[0][1] * p.y + r[0][2] * p.z),
                      float(r[1][0] * p.x + r[1][1] * p.y + r[1][2] * p.z),
                      float(r[2][0] * p.x + r[2][1] * p.y + r[2][2] * p.z)};
    };
    Mesh turned = mesh;
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        turned.positions[v] = turn(mesh.positions[v]);
        turned.normals[v] = turn(mesh.normals[v]);
    }
    preview::VertexCurvature before, after;
    preview::estimate_vertex_curvature(mesh, {}, before);
    preview::estimate_vertex_curvature(turned, {}, after);
    const float bary[3] = {0.2f, 0.3f, 0.5f};
    int compared = 0;
    for (size_t t = 0; t < mesh.triangles.size(); t += 37) {
        const uint32_t* corner = &mesh.triangles[t];
        double n[3] = {0, 0, 0};
        for (int k = 0; k < 3; ++k) {
            const Float3 nk = mesh.normals[corner[k]];
            n[0] += bary[k] * nk.x, n[1] += bary[k] * nk.y, n[2] += bary[k] * nk.z;
        }
        const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
        const Float3 normal{float(n[0] / length), float(n[1] / length), float(n[2] / length)};
        const Float3 turned_normal = turn({normal.x, normal.y, normal.z});
        const Float3 normal_after{turned_normal.x, turned_normal.y, turned_normal.z};
        Float3 d0[5], d1[5];
        ASSERT_TRUE(preview::derivatives_at(before, corner, bary, normal, d0));
        ASSERT_TRUE(preview::derivatives_at(after, corner, bary, normal_after, d1));
        double f0[3][3], f1[3][3];
        world_form(d0, normal, f0);
        world_form(d1, normal_after, f1);
        // R f0 R' against f1.
        double size = 0.0;
        for (int i = 0; i < 3; ++i) {
            size = std::fmax(size, std::fabs(f0[i][i]));
        }
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                double expected = 0.0;
                for (int a = 0; a < 3; ++a) {
                    for (int b = 0; b < 3; ++b) {
                        expected += r[i][a] * f0[a][b] * r[j][b];
                    }
                }
                EXPECT_NEAR(f1[i][j], expected, 1e-4 * size) << t << " " << i << j;
            }
        }
        ++compared;
    }
    EXPECT_GT(compared, 50);
}

TEST(MeshCurvature, BadMeshesGiveFiniteDerivativesOrNone) {
    // A small sphere patch with every fault of a bad file added.
    std::vector<float> uv;
    Mesh mesh = preview::tessellate({preview::SurfaceKind::sphere, 1, 1, 1}, 16, 8, uv);
    const uint32_t count = uint32_t(mesh.positions.size());
    // An isolated vertex, referenced by nothing.
    mesh.positions.push_back({3, 3, 3});
    mesh.normals.push_back({0, 0, 1});
    const uint32_t isolated = count;
    // A fin on a non-manifold edge: a third triangle on the edge of the
    // first, its far corner a vertex of its own.
    const uint32_t a = mesh.triangles[30], b = mesh.triangles[31];
    mesh.positions.push_back({0, 0, 0});
    mesh.normals.push_back({1, 0, 0});
    const uint32_t fin = count + 1;
    mesh.triangles.insert(mesh.triangles.end(), {a, b, fin});
    // A degenerate triangle, a duplicate triangle and a zero-area fan of
    // three vertices at one point.
    mesh.triangles.insert(mesh.triangles.end(), {a, a, b});
    mesh.triangles.insert(mesh.triangles.end(),
                          {mesh.triangles[60], mesh.triangles[61], mesh.triangles[62]});
    for (int k = 0; k < 3; ++k) {
        mesh.positions.push_back({2, 0, 0});
        mesh.normals.push_back({0, 1, 0});
    }
    mesh.triangles.insert(mesh.triangles.end(), {count + 2, count + 3, count + 4});
    // Coincident vertices: a copy of vertex a, used by one triangle in its place.
    mesh.positions.push_back(mesh.positions[a]);
    mesh.normals.push_back(mesh.normals[a]);
    const uint32_t copy = count + 5;
    for (size_t i = 33; i < 3 * 16 * 8; ++i) {
        if (mesh.triangles[i] == a) {
            mesh.triangles[i] = copy;
            break;
        }
    }

    preview::VertexCurvature curvature;
    preview::estimate_vertex_curvature(mesh, {}, curvature);
    ASSERT_EQ(curvature.tensors.size(), mesh.positions.size());
    EXPECT_FALSE(curvature.valid[isolated]);
    EXPECT_FALSE(curvature.valid[count + 2]); // the zero-area fan: no plane to fit
    EXPECT_TRUE(curvature.valid[copy]);
    const preview::CurvatureTensor &t = curvature.tensors[copy], &u = curvature.tensors[a];
    EXPECT_TRUE(t.xx == u.xx && t.xy == u.xy && t.zz == u.zz); // welded: one estimate
    const float weights[4][3] = {{1, 0, 0}, {0.2f, 0.3f, 0.5f}, {0.5f, 0.5f, 0}, {0, 0, 1}};
    for (size_t i = 0; i < mesh.triangles.size(); i += 3) {
        const uint32_t* corner = &mesh.triangles[i];
        const bool all_valid =
            curvature.valid[corner[0]] && curvature.valid[corner[1]] && curvature.valid[corner[2]];
        for (const auto& bary : weights) {
            for (const Float3& normal : {Float3{0, 0, 1}, Float3{0, 0, 0}, Float3{1, 1, 1}}) {
                Float3 derivs[5];
                const bool given = preview::derivatives_at(curvature, corner, bary, normal, derivs);
                EXPECT_TRUE(!given || all_valid) << "a corner without an estimate, triangle " << i;
                for (int k = 0; k < 5 && given; ++k) {
                    EXPECT_TRUE(std::isfinite(derivs[k].x) && std::isfinite(derivs[k].y) &&
                                std::isfinite(derivs[k].z))
                        << i;
                }
                EXPECT_FALSE(given && normal.x == 0 && normal.z == 0) << "zero normal";
            }
        }
    }
}

// Every vertex of the test models gets an estimate unless it lies on the
// surface's edge or on a fin: a fit that the points do not determine is
// widened until they do, also in the frame of the fitted normal where the
// file's normal was poor (on the dragon, vertices in thin parts need both).
TEST(MeshCurvature, EveryVertexOffBoundariesAndFinsOfTheModelsGetsAnEstimate) {
    const std::string models = BENDLENS_MODELS_DIR;
    int found = 0;
    for (const char* name : {"teapot.obj", "bunny.obj", "dragon.obj", "dragon.ply"}) {
        const std::string path = models + "/" + name;
        if (!std::ifstream(path)) {
            continue;
        }
        ++found;
        Mesh mesh;
        std::string error;
        ASSERT_TRUE(preview::load_mesh(path, mesh, error)) << error;
        preview::VertexCurvature curvature;
        preview::estimate_vertex_curvature(mesh, {}, curvature);
        // Edges of the welded surface by the triangles that use them.
        const std::vector<uint32_t> welded = preview::weld_positions(mesh.positions);
        std::map<std::pair<uint32_t, uint32_t>, int> uses;
        std::vector<std::array<uint32_t, 3>> triangles;
        for (size_t t = 0; t < mesh.triangles.size(); t += 3) {
            const std::array<uint32_t, 3> w = {welded[mesh.triangles[t]],
                                               welded[mesh.triangles[t + 1]],
                                               welded[mesh.triangles[t + 2]]};
            if (w[0] == w[1] || w[1] == w[2] || w[2] == w[0]) {
                continue; // collapsed: never hit
            }
            triangles.push_back(w);
            for (int k = 0; k < 3; ++k) {
                ++uses[std::minmax(w[k], w[(k + 1) % 3])];
            }
        }
        // A vertex on the surface: in a triangle, and in none with an edge
        // that ends the surface (one triangle) or splits it (more than two).
        std::vector<int> state(mesh.positions.size(), 0); // 1 on the surface, 2 excluded
        for (const auto& w : triangles) {
            bool inside = true;
            for (int k = 0; k < 3; ++k) {
                inside = inside && uses[std::minmax(w[k], w[(k + 1) % 3])] == 2;
            }
            for (uint32_t v : w) {
                state[v] = inside && state[v] != 2 ? 1 : 2;
            }
        }
        int surface = 0, missing = 0;
        for (size_t v = 0; v < mesh.positions.size(); ++v) {
            if (welded[v] == v && state[v] == 1) {
                ++surface;
                missing += curvature.valid[v] == 0;
            }
        }
        EXPECT_EQ(missing, 0) << name << ": of " << surface << " vertices on the surface";
    }
    if (found == 0) {
        GTEST_SKIP() << "no models in " << models << "; run scripts/fetch-models.sh";
    }
}

// The report's text, as it prints it.
template <typename Print> std::string report_text(Print print) {
    FILE* out = std::tmpfile();
    EXPECT_NE(out, nullptr);
    if (out == nullptr) {
        return std::string();
    }
    print(out);
    std::rewind(out);
    std::string text;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
        text += buffer;
    }
    std::fclose(out);
    return text;
}

TEST(MeshCurvature, TheAccuracyReportMeetsItsTargetsAtFineness128) {
    // Through the real plug-in: the torus (whose inner ring is concave) at
    // fineness 128 within 0.2% at points sampled by area (0.08% measured),
    // every large mean of the right sign, and the jittered torus within 1%
    // (0.5% measured; the limits were 1% and 5% before the estimate fitted
    // slopes).
    preview::Plugin plugin;
    std::string error;
    ASSERT_TRUE(preview::load_plugin(BENDLENS_PLUGIN, plugin, error)) << error;
    Boolean request = 0;
    plugin.init(nullptr, nullptr, &request);
    const std::string text = report_text([&](FILE* out) {
        preview::estimated_accuracy_report(plugin, 400, preview::default_rings, out);
    });
    plugin.exit(nullptr, nullptr);
    preview::unload_plugin(plugin);
    for (const auto& [row, limit] :
         {std::pair<std::string, double>{"| torus | tessellation 128 | ", 0.002},
          {"| torus | tessellation 128, jittered 0.1% of an edge | ", 0.01}}) {
        const size_t at = text.find(row);
        ASSERT_NE(at, std::string::npos) << text;
        const size_t error_at = text.find(" | ", at + row.size()) + 3; // past the correlation
        EXPECT_GT(std::stod(text.substr(at + row.size())), 0.999) << row;
        EXPECT_LT(std::stod(text.substr(error_at)), limit) << row;
        EXPECT_EQ(text.substr(text.find(" | ", error_at) + 3, 7), "100.00%") << row;
    }
    // At the vertices themselves, at fineness 128: the torus and the
    // ellipsoid within 0.1%, the jittered torus within 1.2%, and the
    // irregular triangulation (the scans' kind of mesh) within 0.5%, every
    // vertex with an estimate.
    const std::string vertices =
        report_text([](FILE* out) { preview::vertex_accuracy_report(0, out); });
    for (const auto& [row, limit] :
         {std::pair<std::string, double>{"| torus | tessellation 128 | ", 0.001},
          {"| ellipsoid | tessellation 128 | ", 0.001},
          {"| torus | tessellation 128, jittered 0.1% of an edge | ", 0.012},
          {"| torus | tessellation 128, irregular | ", 0.005}}) {
        const size_t at = vertices.find(row);
        ASSERT_NE(at, std::string::npos) << vertices;
        const size_t error_at = vertices.find(" | ", at + row.size()) + 3; // past the count
        EXPECT_LT(std::stod(vertices.substr(error_at)), limit) << row;
        const size_t without_at = vertices.find(" | ", error_at) + 3;
        EXPECT_EQ(std::stoi(vertices.substr(without_at)), 0) << row;
    }
}

} // namespace
