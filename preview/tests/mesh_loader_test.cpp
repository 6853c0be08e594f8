// Mesh loading: the files a hand-written reader got wrong, each format read,
// the refusals and their one-line reasons, and the normals prepare_mesh
// computes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"

namespace {

using preview::Float3;
using preview::Mesh;

// The files beside this test, in data/.
const std::string data_dir = [] {
    const std::string here = __FILE__;
    return here.substr(0, here.rfind('/')) + "/data/";
}();

std::string contents(const std::string& name) {
    std::ifstream file(data_dir + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

bool parse(const std::string& name, const std::string& text, Mesh& mesh, std::string& error) {
    return preview::parse_mesh(name, text.data(), text.size(), mesh, error) &&
           preview::prepare_mesh(mesh, error);
}

// Twice the signed area of triangle t, seen from +z.
double signed_area2(const Mesh& mesh, size_t t) {
    const Float3 a = mesh.positions[mesh.triangles[3 * t]];
    const Float3 b = mesh.positions[mesh.triangles[3 * t + 1]];
    const Float3 c = mesh.positions[mesh.triangles[3 * t + 2]];
    return (double(b.x) - a.x) * (double(c.y) - a.y) - (double(b.y) - a.y) * (double(c.x) - a.x);
}

TEST(MeshFiles, ReadWhatTheOldReaderRefused) {
    Mesh mesh;
    std::string error;
    // Faces before their vertices, one continued over two lines, one with
    // indices counted from the end: the same three triangles of the square.
    ASSERT_TRUE(preview::load_mesh(data_dir + "continued_forward.obj", mesh, error)) << error;
    ASSERT_EQ(mesh.triangles.size(), 9u);
    for (size_t t = 0; t < 3; ++t) {
        EXPECT_DOUBLE_EQ(signed_area2(mesh, t), 1.0) << t;
    }
    // Binary big endian, plain and gzip-compressed, its data starting with a
    // newline byte: the square, its normals kept (the file's (0, 0, 2), unit).
    for (const char* name : {"big_endian.ply", "big_endian.ply.gz"}) {
        ASSERT_TRUE(preview::load_mesh(data_dir + name, mesh, error)) << error;
        ASSERT_EQ(mesh.positions.size(), 4u) << name;
        EXPECT_EQ(mesh.positions[2].x, 1.0f);
        EXPECT_EQ(mesh.positions[2].y, 1.0f);
        EXPECT_EQ(mesh.triangles.size(), 6u);
        EXPECT_EQ(mesh.normals[3].z, 1.0f);
    }
    // A material library that is not there, then lines Assimp does not know:
    // read (Assimp 5.2 itself crashes here when it looks for the library).
    ASSERT_TRUE(parse("m.obj", "mtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\na\ng grp\n",
                      mesh, error))
        << error;
    // A 2000-corner convex face: 1998 triangles covering the polygon.
    std::string text;
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 2000; ++i) {
        text += "v " + std::to_string(std::cos(2 * pi * i / 2000)) + " " +
                std::to_string(std::sin(2 * pi * i / 2000)) + " 0\n";
    }
    text += "f";
    for (int i = 1; i <= 2000; ++i) {
        text += " " + std::to_string(i);
    }
    ASSERT_TRUE(parse("round.obj", text + "\n", mesh, error)) << error;
    EXPECT_EQ(mesh.triangles.size(), 3u * 1998u);
}

// Ear clipping, not a fan: every triangle lies inside the concave outline
// (wound as it is) and together they cover exactly its area, 12.
TEST(MeshFiles, TriangulateAConcavePolygonInsideItsOutline) {
    for (const char* name : {"concave.obj", "concave.obj.gz"}) {
        Mesh mesh;
        std::string error;
        ASSERT_TRUE(preview::load_mesh(data_dir + name, mesh, error)) << error;
        ASSERT_EQ(mesh.triangles.size(), 12u) << name;
        double area2 = 0.0;
        for (size_t t = 0; t < 4; ++t) {
            EXPECT_GT(signed_area2(mesh, t), 0.0) << name << " triangle " << t;
            area2 += signed_area2(mesh, t);
        }
        EXPECT_DOUBLE_EQ(area2, 24.0) << name;
    }
}

TEST(MeshFiles, ReadStlAndGltfAsTheirFilesPlaceThem) {
    Mesh mesh;
    std::string error;
    // STL: the facet's own normal (+x) is not a vertex normal; the computed
    // one follows the winding (+z).
    ASSERT_TRUE(preview::load_mesh(data_dir + "triangle.stl", mesh, error)) << error;
    ASSERT_EQ(mesh.triangles.size(), 3u);
    EXPECT_EQ(mesh.normals[0].z, 1.0f);
    // glTF, its buffer embedded, in a .glb, or in a file beside it: the node
    // moves the triangle to z = 5.
    for (const char* name : {"triangle.gltf", "triangle.glb", "beside.gltf"}) {
        ASSERT_TRUE(preview::load_mesh(data_dir + name, mesh, error)) << name << ": " << error;
        ASSERT_EQ(mesh.positions.size(), 3u) << name;
        EXPECT_EQ(mesh.positions[1].x, 1.0f) << name;
        EXPECT_EQ(mesh.positions[1].z, 5.0f) << name;
    }
    // A mirroring node keeps the triangle facing the side its winding said.
    std::string mirrored = contents("triangle.gltf");
    const std::string moved = "\"translation\": [0, 0, 5]";
    mirrored.replace(mirrored.find(moved), moved.size(), "\"scale\": [-1, 1, 1]");
    ASSERT_TRUE(parse("m.gltf", mirrored, mesh, error)) << error;
    EXPECT_EQ(mesh.positions[1].x, -1.0f);
    EXPECT_EQ(mesh.normals[0].z, 1.0f);
    // The longest data URI header Assimp reads safely.
    std::string long_header = contents("triangle.gltf");
    long_header.replace(long_header.find("octet-stream"), 12, std::string(102, 'x'));
    ASSERT_EQ(long_header.find(",", long_header.find("data:")), long_header.find("data:") + 126);
    EXPECT_TRUE(parse("m.gltf", long_header, mesh, error)) << error;
    // Parsing a buffer reads no other file, even one named by its full path.
    std::string beside = contents("beside.gltf");
    beside.replace(beside.find("beside.bin"), 10, data_dir + "beside.bin");
    EXPECT_FALSE(parse("beside.gltf", beside, mesh, error));
    EXPECT_FALSE(error.empty());
    // Only the format named is read: neither an OFF file called .gltf, nor an
    // OBJ one, which would escape the checks made on OBJ files (Assimp 5.2
    // crashes on this one).
    EXPECT_FALSE(parse("m.gltf", "OFF\n3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n", mesh, error));
    EXPECT_FALSE(parse("m.gltf", std::string("j\nmtllib tl\0a\np ", 16), mesh, error));
}

// Texture coordinates arrive with v running up the image whatever the file's
// convention: an OBJ's vt as written, glTF's TEXCOORD_0 (stored with v down)
// flipped by Assimp, PLY's three spellings as written; they are dropped
// where not every vertex has them.
TEST(MeshFiles, ReadTextureCoordinatesWithVUp) {
    Mesh mesh;
    std::string error;
    // An OBJ: one position used with two texture coordinates, as at a seam.
    ASSERT_TRUE(parse("m.obj",
                      "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0.1 0.2\nvt 0.9 0.2\nvt 0.1 0.8\n"
                      "vt 0.3 0.4\nf 1/1 2/2 3/3\nf 2/4 4/2 3/3\n",
                      mesh, error))
        << error;
    ASSERT_EQ(mesh.uvs.size(), mesh.positions.size());
    for (size_t c = 0; c < mesh.triangles.size(); ++c) {
        const Float3 p = mesh.positions[mesh.triangles[c]];
        const preview::Float2 t = mesh.uvs[mesh.triangles[c]];
        // Vertex 2 (1, 0, 0) carries vt 2 in the first face and vt 4 in the second.
        const float expected_u[2][3] = {{0.1f, 0.9f, 0.1f}, {0.3f, 0.9f, 0.1f}};
        const float expected_v[2][3] = {{0.2f, 0.2f, 0.8f}, {0.4f, 0.2f, 0.8f}};
        EXPECT_EQ(t.u, expected_u[c / 3][c % 3]) << "corner " << c << " at x " << p.x;
        EXPECT_EQ(t.v, expected_v[c / 3][c % 3]) << "corner " << c;
    }
    // glTF: the file's (0.25, 0.125), (0.5, 0.25), (0.75, 1) with v down.
    ASSERT_TRUE(preview::load_mesh(data_dir + "uv_triangle.gltf", mesh, error)) << error;
    ASSERT_EQ(mesh.uvs.size(), 3u);
    const float gltf_u[3] = {0.25f, 0.5f, 0.75f}, gltf_v[3] = {0.875f, 0.75f, 0.0f};
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(mesh.uvs[mesh.triangles[k]].u, gltf_u[k]) << k;
        EXPECT_EQ(mesh.uvs[mesh.triangles[k]].v, gltf_v[k]) << k;
    }
    // PLY: s/t, u/v and texture_u/texture_v, each kept as written.
    for (const std::string names : {"s t", "u v", "texture_u texture_v"}) {
        const std::string first = names.substr(0, names.find(' '));
        const std::string second = names.substr(names.find(' ') + 1);
        const std::string text = "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\n"
                                 "property float y\nproperty float z\nproperty float " +
                                 first + "\nproperty float " + second +
                                 "\nelement face 1\nproperty list uchar int vertex_indices\n"
                                 "end_header\n0 0 0 0.5 0.25\n1 0 0 1 0\n0 1 0 0 1\n3 0 1 2\n";
        ASSERT_TRUE(parse("m.ply", text, mesh, error)) << names << ": " << error;
        ASSERT_EQ(mesh.uvs.size(), 3u) << names;
        EXPECT_EQ(mesh.uvs[0].u, 0.5f) << names;
        EXPECT_EQ(mesh.uvs[0].v, 0.25f) << names;
        EXPECT_EQ(mesh.uvs[2].v, 1.0f) << names;
    }
    // Texture coordinates for some vertices only are no texture coordinates.
    mesh.uvs.pop_back();
    ASSERT_TRUE(preview::prepare_mesh(mesh, error)) << error;
    EXPECT_TRUE(mesh.uvs.empty());
}

TEST(MeshFiles, RefuseBadFilesWithOneLineNamingTheReason) {
    const struct {
        std::string name;
        std::string reason; // after "mesh PATH: "
    } cases[] = {
        {"no_triangles.obj", "the mesh has no triangles"},
        {"nan_vertex.obj", "vertex 1 has a coordinate that is not a finite number"},
        {"bad_face.obj", "OBJ: Invalid face index."},
        {"truncated.ply", "PLY: vertex 0: bad or truncated value"},
        {"truncated_big_endian.ply", "PLY: face 0: truncated list"},
        {"model.3ds", "unknown mesh format '3ds' (expected .obj, .ply, .stl, .gltf or .glb"},
        {"beside.bin", "unknown mesh format 'bin'"},
    };
    for (const auto& c : cases) {
        Mesh mesh;
        std::string error;
        EXPECT_FALSE(preview::load_mesh(data_dir + c.name, mesh, error)) << c.name;
        EXPECT_EQ(error.rfind("mesh " + data_dir + c.name + ": " + c.reason, 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    // A binary glTF whose header or chunk declares more bytes than the file
    // holds (Assimp would allocate and zero all of them first).
    const auto with_u32 = [](std::string text, size_t at, uint32_t value) {
        for (size_t k = 0; k < 4; ++k) {
            text[at + k] = char(value >> (8 * k));
        }
        return text;
    };
    const std::string glb = contents("triangle.glb");
    const size_t bin_chunk = 20 + 540; // after the 540 bytes of JSON
    ASSERT_EQ(glb.substr(bin_chunk + 4, 4), std::string("BIN\0", 4));
    const std::string glb_v1 = with_u32(with_u32(glb, 4, 1), 12, 1u << 30);
    // A glTF whose embedded buffer's data URI has its comma at index n:
    // Assimp keeps that index in a signed char.
    const auto uri_comma_at = [](size_t n) {
        std::string text = contents("triangle.gltf");
        const std::string header = "data:application/octet-stream;base64";
        const std::string longer = "data:application/" + std::string(n - 24, 'x') + ";base64";
        return text.replace(text.find(header), header.size(), longer);
    };
    std::string marked = contents("triangle.gltf");
    marked.replace(marked.find("data:"), 5, "\\u0010data:");
    // Out of range (Assimp's own OBJ check), cut short, empty, bad gzip,
    // binary glTF parts longer than the file, glTF strings Assimp misreads.
    const struct {
        std::string name, text, reason;
    } buffers[] = {
        {"m.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", "OBJ: vertex index out of range"},
        {"m.obj", "", "the file is empty"},
        {"m.obj", std::string("v 0 0 0\0\n", 9), "OBJ: the file holds a NUL byte"},
        {"m.obj.gz", contents("concave.obj.gz").substr(0, 60), "gzip: the data is truncated"},
        {"m.ply.gz", "plain text", "gzip: incorrect header check"},
        {"m.txt.gz", "", "unknown mesh format 'txt.gz'"},
        {"m.glb", with_u32(glb, 12, 1u << 30), "glTF: a part of the binary file is declared"},
        {"m.glb", with_u32(glb, bin_chunk, 1u << 30), "glTF: a part of the binary file"},
        {"m.glb", glb_v1, "glTF: a part of the binary file is declared longer than the file"},
        {"m.gltf", uri_comma_at(127), "glTF: a data URI's header is longer than 126 bytes"},
        {"m.gltf", marked, "glTF: a string starts with the control character 0x10"},
    };
    for (const auto& b : buffers) {
        Mesh mesh;
        std::string error;
        EXPECT_FALSE(parse(b.name, b.text, mesh, error)) << b.name;
        EXPECT_EQ(error.rfind(b.reason, 0), 0u) << b.name << " gave: " << error;
    }
    Mesh mesh;
    std::string error;
    EXPECT_FALSE(preview::load_mesh(data_dir, mesh, error));
    EXPECT_EQ(error, "cannot read mesh " + data_dir);
}

// Every prefix of a valid file is a plausible truncated download: each must
// parse to a valid mesh or fail with a reason (the sanitizer builds check the
// reads). The buffer is copied to the heap at its exact length so that any
// overrun is caught.
TEST(MeshFiles, EveryTruncationFailsCleanly) {
    for (const char* name : {"big_endian.ply", "triangle.glb", "continued_forward.obj"}) {
        const std::string text = contents(name);
        for (size_t length = 0; length < text.size(); ++length) {
            std::unique_ptr<char[]> exact(new char[length == 0 ? 1 : length]);
            std::memcpy(exact.get(), text.data(), length);
            Mesh mesh;
            std::string error;
            if (preview::parse_mesh(name, exact.get(), length, mesh, error) &&
                preview::prepare_mesh(mesh, error)) {
                EXPECT_FALSE(mesh.triangles.empty());
            } else {
                EXPECT_FALSE(error.empty()) << name << " cut at " << length;
            }
        }
    }
}

TEST(PlyReader, ReadsAsciiWithNormalsAndSkipsOtherElements) {
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

TEST(PlyReader, RefusesMalformedHeadersAndBodies) {
    const std::string vertex = "element vertex 3\nproperty float x\nproperty float y\n"
                               "property float z\n";
    const std::string face = "element face 1\nproperty list uchar int vertex_indices\n";
    const struct {
        std::string text;
        const char* reason;
    } cases[] = {
        {"obj\n", "does not start with 'ply'"},
        {"ply\nformat binary_middle_endian 1.0\nend_header\n", "is not a PLY format"},
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
    };
    for (const auto& c : cases) {
        Mesh mesh;
        std::string error;
        EXPECT_FALSE(parse("m.ply", c.text, mesh, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.text << " gave: " << error;
    }
}

TEST(MeshPreparation, ComputesOutwardNormalsOnWeldedPositions) {
    // A closed tetrahedron wound outward, its corner (1, 0, 0) split in three
    // as a UV seam splits vertices: every normal points away from the centre,
    // and every copy of the corner gets the normal of the whole corner, +x
    // (its three faces' cross products, (0, 0, -1), (0, -1, 0) and (1, 1, 1),
    // sum to (1, 0, 0); a copy that saw one face alone would not).
    Mesh mesh;
    mesh.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {1, 0, 0}};
    mesh.triangles = {0, 2, 1, 0, 4, 3, 0, 3, 2, 5, 2, 3};
    std::string error;
    ASSERT_TRUE(preview::prepare_mesh(mesh, error)) << error;
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        const Float3 p = mesh.positions[v], n = mesh.normals[v];
        const float away = (p.x - 0.25f) * n.x + (p.y - 0.25f) * n.y + (p.z - 0.25f) * n.z;
        EXPECT_GT(away, 0.0f) << v;
        EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0f, 1e-6f);
    }
    for (size_t copy : {1u, 4u, 5u}) {
        EXPECT_NEAR(mesh.normals[copy].x, 1.0f, 1e-6f) << copy;
    }
    // File normals of zero length are replaced, not divided by zero.
    mesh.normals.assign(6, Float3{0, 0, 0});
    ASSERT_TRUE(preview::prepare_mesh(mesh, error));
    EXPECT_GT(mesh.normals[0].x * -0.25f + mesh.normals[0].y * -0.25f, 0.0f);
    // A triangle naming a vertex that does not exist is refused.
    mesh.triangles.back() = 6;
    EXPECT_FALSE(preview::prepare_mesh(mesh, error));
    EXPECT_EQ(error, "a triangle names a vertex that does not exist");
}

} // namespace
