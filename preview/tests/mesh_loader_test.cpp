// The OBJ and PLY parsers: what they read, and that malformed input of any
// kind gives a reason instead of a crash or a half-read mesh.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "preview/mesh_loader.h"

namespace {

using preview::Mesh;

bool parse(const std::string& name, const std::string& text, Mesh& mesh, std::string& error) {
    return preview::parse_mesh(name, text.data(), text.size(), mesh, error) &&
           preview::prepare_mesh(mesh, error);
}

// Little-endian bytes of a float, an int32 and a byte, for binary PLY bodies.
void put_float(std::string& out, float v) {
    uint32_t u;
    std::memcpy(&u, &v, 4);
    for (int i = 0; i < 4; ++i) {
        out.push_back(char((u >> (8 * i)) & 0xFF));
    }
}
void put_int(std::string& out, int32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(char((uint32_t(v) >> (8 * i)) & 0xFF));
    }
}

const char* const binary_header = "ply\nformat binary_little_endian 1.0\n"
                                  "element vertex 4\nproperty float x\nproperty float y\n"
                                  "property float z\nproperty uchar red\n"
                                  "element face 1\nproperty list uchar int vertex_indices\n"
                                  "end_header\n";

std::string binary_square() {
    std::string text = binary_header;
    const float corners[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (const auto& c : corners) {
        put_float(text, c[0]);
        put_float(text, c[1]);
        put_float(text, 0.0f);
        text.push_back(char(200)); // red, skipped
    }
    text.push_back(4);
    for (int32_t i = 0; i < 4; ++i) {
        put_int(text, i);
    }
    return text;
}

TEST(ObjLoader, ReadsPolygonsAsFansWithAnyCornerForm) {
    Mesh mesh;
    std::string error;
    const std::string text = "# a square and a triangle\r\n"
                             "v 0 0 0\r\nv 1 0 0\r\nv 1 1 0\r\nv 0 1 0\r\nvt 0 0\r\n"
                             "o thing\r\n\r\n"
                             "f 1/1 2/1 3/1 4/1\r\n"
                             "f -4 -3 -1\r\n";
    ASSERT_TRUE(parse("a.OBJ", text, mesh, error)) << error;
    ASSERT_EQ(mesh.triangles.size(), 9u);
    EXPECT_EQ(mesh.triangles[3], 0u);
    EXPECT_EQ(mesh.triangles[4], 2u);
    EXPECT_EQ(mesh.triangles[5], 3u);
    EXPECT_EQ(mesh.triangles[8], 3u); // -1 is the last vertex
    // No normals in the file: computed, facing +z for a counter-clockwise square.
    ASSERT_EQ(mesh.normals.size(), 4u);
    for (const auto& n : mesh.normals) {
        EXPECT_FLOAT_EQ(n.z, 1.0f);
    }
}

TEST(ObjLoader, KeepsFileNormalsOnlyWhenEachVertexHasOne) {
    Mesh mesh;
    std::string error;
    const std::string with = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 2\nvn 1 0 0\n"
                             "f 1//2 2//2 3//2\n";
    ASSERT_TRUE(parse("a.obj", with, mesh, error)) << error;
    EXPECT_FLOAT_EQ(mesh.normals[0].x, 1.0f); // the file's, normalised
    // Vertex 1 with two different normals: smooth normals are computed instead.
    const std::string split = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvn 1 0 0\nvn 0 1 0\n"
                              "f 1//1 2//1 3//1\nf 2//2 4//2 3//2\n";
    ASSERT_TRUE(parse("a.obj", split, mesh, error)) << error;
    EXPECT_FLOAT_EQ(mesh.normals[0].z, 1.0f);
}

TEST(ObjLoader, RefusesMalformedRecordsWithTheirLine) {
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"v 0 0\n", "OBJ line 1: expected three numbers after 'v'"},
        {"v 0 0 x\n", "OBJ line 1: expected three numbers after 'v'"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", "OBJ line 4: face corner '4' names no earlier"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 0\n", "face corner '0'"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 -4\n", "face corner '-4'"},
        {"v 0 0 0\nv 1 0 0\nf 1 2\n", "OBJ line 3: a face needs at least three corners"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 99999999999999999999\n", "names no earlier"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\n", "the mesh has no triangles"},
        {"", "the mesh has no triangles"},
        {"v 0 0 0\nv 1 inf 0\nv 0 1 0\nf 1 2 3\n", "vertex 1 has a coordinate that is not"},
        {"v 0 0 0\nv 1 0 0\nv nan 1 0\nf 1 2 3\n", "vertex 2 has a coordinate that is not"},
    };
    for (const auto& c : cases) {
        Mesh mesh;
        std::string error;
        EXPECT_FALSE(parse("m.obj", c.text, mesh, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " gave: " << error;
    }
}

TEST(PlyLoader, ReadsAsciiWithNormalsAndSkipsOtherElements) {
    Mesh mesh;
    std::string error;
    const std::string text = "ply\nformat ascii 1.0\ncomment made by hand\n"
                             "element vertex 3\nproperty float x\nproperty float y\n"
                             "property float z\nproperty float nx\nproperty float ny\n"
                             "property float nz\nelement face 1\n"
                             "property list uchar int vertex_indices\n"
                             "element edge 1\nproperty int a\nproperty int b\nend_header\n"
                             "0 0 0 0 0 1\n1 0 0 0 0 1\n0 1 0 0 0 3\n3 0 1 2\n0 1\n";
    ASSERT_TRUE(parse("m.ply", text, mesh, error)) << error;
    EXPECT_EQ(mesh.positions.size(), 3u);
    EXPECT_EQ(mesh.triangles.size(), 3u);
    EXPECT_FLOAT_EQ(mesh.normals[2].z, 1.0f);
}

TEST(PlyLoader, ReadsBinaryLittleEndian) {
    Mesh mesh;
    std::string error;
    ASSERT_TRUE(parse("m.ply", binary_square(), mesh, error)) << error;
    ASSERT_EQ(mesh.positions.size(), 4u);
    EXPECT_FLOAT_EQ(mesh.positions[2].x, 1.0f);
    EXPECT_FLOAT_EQ(mesh.positions[2].y, 1.0f);
    ASSERT_EQ(mesh.triangles.size(), 6u);
    EXPECT_EQ(mesh.triangles[5], 3u);
}

TEST(PlyLoader, RefusesMalformedHeadersAndBodies) {
    const std::string vertex = "element vertex 3\nproperty float x\nproperty float y\n"
                               "property float z\n";
    const std::string face = "element face 1\nproperty list uchar int vertex_indices\n";
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"obj\n", "does not start with 'ply'"},
        {"ply\nformat binary_big_endian 1.0\nend_header\n", "binary_big_endian' is not supported"},
        {"ply\n" + vertex + "end_header\n", "no format line"},
        {"ply\nformat ascii 1.0\n" + vertex, "no end_header"},
        {"ply\nformat ascii 1.0\nelement vertex 99999999999999\nend_header\n", "bad count"},
        {"ply\nformat ascii 1.0\nelement vertex -3\nend_header\n", "bad count"},
        {"ply\nformat ascii 1.0\nproperty float x\nend_header\n", "before any element"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty quad x\nend_header\n",
         "unknown property type"},
        {"ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nend_header\n1\n",
         "lacks x, y or z"},
        {"ply\nformat ascii 1.0\n" + face + vertex + "end_header\n3 0 1 2\n",
         "faces come before the vertex element"},
        {"ply\nformat ascii 1.0\n" + vertex + face + "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 3\n",
         "face 0 names a vertex that does not exist"},
        {"ply\nformat ascii 1.0\n" + vertex + face + "end_header\n0 0 0\n1 0 0\n0 1 0\n2 0 1\n",
         "face 0 has fewer than three corners"},
        {"ply\nformat ascii 1.0\n" + vertex + face + "end_header\n0 0 0\n1 0 0\n0 1\n",
         "vertex 2: bad or truncated value"},
        {"ply\nformat ascii 1.0\n" + vertex + face + "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1\n",
         "face 0: truncated list"},
        {"ply\nformat ascii 1.0\n" + vertex + face + "end_header\n0 0 0\n1 0 0\n0 1 0\n-3 0\n",
         "bad or truncated list count"},
        {"ply\nformat ascii 1.0\n" + vertex + "end_header\n0 0 0\n1 0 0\n0 1 0\n",
         "the mesh has no triangles"},
    };
    for (const auto& c : cases) {
        Mesh mesh;
        std::string error;
        EXPECT_FALSE(parse("m.ply", c.text, mesh, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " gave: " << error;
    }
}

// Every prefix of a valid file is a plausible truncated download: each must
// parse to a valid mesh or fail with a reason, reading nothing past its end
// (the sanitizer builds check the reads). The buffer is copied to the heap
// at its exact length so that any overrun is caught.
TEST(MeshLoaders, EveryTruncationFailsCleanly) {
    const std::string files[][2] = {
        {"m.ply", binary_square()},
        {"m.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
                  "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
                  "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n"},
        {"m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//1 3//1\n"},
    };
    for (const auto& file : files) {
        const std::string& text = file[1];
        for (size_t length = 0; length < text.size(); ++length) {
            std::unique_ptr<char[]> exact(new char[length == 0 ? 1 : length]);
            std::memcpy(exact.get(), text.data(), length);
            Mesh mesh;
            std::string error;
            const bool ok = preview::parse_mesh(file[0], exact.get(), length, mesh, error) &&
                            preview::prepare_mesh(mesh, error);
            if (ok) {
                EXPECT_FALSE(mesh.triangles.empty());
            } else {
                EXPECT_FALSE(error.empty()) << file[0] << " cut at " << length;
            }
        }
    }
    Mesh mesh;
    std::string error;
    EXPECT_FALSE(preview::parse_mesh("m.obj", nullptr, 0, mesh, error) &&
                 preview::prepare_mesh(mesh, error));
    EXPECT_FALSE(preview::parse_mesh("m.stl", "solid", 5, mesh, error));
    EXPECT_NE(error.find("unknown mesh format 'stl'"), std::string::npos);
}

TEST(MeshPreparation, ComputesOutwardAreaWeightedNormals) {
    // A closed tetrahedron wound outward: each vertex normal points away from
    // the centre.
    Mesh mesh;
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    mesh.triangles = {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3};
    std::string error;
    ASSERT_TRUE(preview::prepare_mesh(mesh, error)) << error;
    for (size_t v = 0; v < 4; ++v) {
        const auto p = mesh.positions[v];
        const auto n = mesh.normals[v];
        const float away = (p.x - 0.25f) * n.x + (p.y - 0.25f) * n.y + (p.z - 0.25f) * n.z;
        EXPECT_GT(away, 0.0f) << v;
        EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-6f);
    }
    // File normals of zero length are replaced, not divided by zero.
    mesh.normals.assign(4, preview::Float3{0, 0, 0});
    ASSERT_TRUE(preview::prepare_mesh(mesh, error));
    EXPECT_TRUE(std::isfinite(mesh.normals[0].x));
    EXPECT_NEAR(mesh.normals[0].x * mesh.normals[0].x + mesh.normals[0].y * mesh.normals[0].y +
                    mesh.normals[0].z * mesh.normals[0].z,
                1.0f, 1e-6f);
}

} // namespace
