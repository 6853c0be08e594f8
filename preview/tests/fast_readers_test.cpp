// The readers that take the common big files on every core, against the
// readers they stand in for. The plain-OBJ reader against Assimp: on every
// file it reads, the mesh must be the one Assimp gives, bit for bit; a file
// it does not read goes to Assimp through parse_mesh all the same. The
// binary PLY reader of fixed-size records against the value-by-value one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "preview/mesh/assimp_import.h"
#include "preview/mesh/load.h"
#include "preview/mesh/plain_obj.h"
#include "preview/mesh/weld.h"

namespace {

using preview::Mesh;

bool same_bits(const void* a, const void* b, size_t bytes) {
    return bytes == 0 || std::memcmp(a, b, bytes) == 0;
}

// Assimp's mesh of an OBJ text, its corners merged as parse_mesh merges them.
Mesh assimp_mesh(const std::string& text) {
    Mesh mesh;
    std::string error;
    EXPECT_TRUE(preview::import_with_assimp("obj", "", text.data(), text.size(), mesh, error))
        << error;
    preview::merge_identical_vertices(mesh);
    return mesh;
}

// Whether the plain reader reads text, and if it does, that it gives
// Assimp's mesh; and that parse_mesh gives Assimp's mesh either way.
bool expect_as_assimp(const std::string& what, const std::string& text) {
    const Mesh expected = assimp_mesh(text);
    Mesh fast, parsed, cut;
    const bool read = preview::read_plain_obj(text.data(), text.size(), fast);
    // Cut into chunks of a line or two, so that negative indices reach back
    // across chunks and faces name vertices of chunks after their own.
    EXPECT_EQ(preview::read_plain_obj(text.data(), text.size(), cut, nullptr, 24), read) << what;
    std::string error;
    EXPECT_TRUE(preview::parse_mesh("m.obj", text.data(), text.size(), parsed, error)) << error;
    for (const Mesh* mesh : {&parsed, read ? &fast : &parsed, read ? &cut : &parsed}) {
        EXPECT_EQ(mesh->triangles, expected.triangles) << what;
        EXPECT_EQ(mesh->positions.size(), expected.positions.size()) << what;
        EXPECT_EQ(mesh->normals.size(), expected.normals.size()) << what;
        EXPECT_EQ(mesh->uvs.size(), expected.uvs.size()) << what;
        if (mesh->positions.size() == expected.positions.size() &&
            mesh->normals.size() == expected.normals.size() &&
            mesh->uvs.size() == expected.uvs.size()) {
            EXPECT_TRUE(same_bits(mesh->positions.data(), expected.positions.data(),
                                  sizeof(preview::Float3) * expected.positions.size()))
                << what << ": positions differ";
            EXPECT_TRUE(same_bits(mesh->normals.data(), expected.normals.data(),
                                  sizeof(preview::Float3) * expected.normals.size()))
                << what << ": normals differ";
            EXPECT_TRUE(same_bits(mesh->uvs.data(), expected.uvs.data(),
                                  sizeof(preview::Float2) * expected.uvs.size()))
                << what << ": texture coordinates differ";
        }
    }
    return read;
}

std::string file_text(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(PlainObj, ReadsTheModelsAsAssimpDoes) {
    for (const char* name : {"bunny.obj", "teapot.obj", "dragon.obj"}) {
        const std::string text = file_text(std::string(BENDLENS_MODELS_DIR) + "/" + name);
        if (text.empty()) {
            GTEST_SKIP() << "scripts/fetch-models.sh fetches the models";
        }
        EXPECT_TRUE(expect_as_assimp(name, text)) << name << " is plain";
    }
}

// Numbers in every spelling exporters write, each read with Assimp's own
// arithmetic (which is not the nearest float for many of them): a reader
// that rounds once, as strtof does, fails here.
TEST(PlainObj, ReadsEveryNumberToTheBitAsAssimpDoes) {
    std::mt19937 random(22);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    auto number = [&](int kind) {
        char text[96];
        const double x = unit(random) * std::pow(10.0, double(random() % 14) - 6.0);
        const int digits = int(random() % 18);
        switch (kind % 8) {
        case 0:
            std::snprintf(text, sizeof text, "%.*f", digits, x);
            break;
        case 1:
            std::snprintf(text, sizeof text, "%.*e", digits, x);
            break;
        case 2:
            std::snprintf(text, sizeof text, "%.*G", 1 + digits, x);
            break;
        case 3:
            std::snprintf(text, sizeof text, "%d", int(x));
            break;
        case 4:
            std::snprintf(text, sizeof text, "%.9g", double(float(x)));
            break;
        case 5: // more decimals than Assimp reads
            std::snprintf(text, sizeof text, "%.0f.%018d", std::trunc(x), int(random() % 999999));
            break;
        case 6:
            std::snprintf(text, sizeof text, "%.*fe+%d", digits % 6, x, int(random() % 20));
            break;
        default: // "1." and "-0."
            std::snprintf(text, sizeof text, "%.0f.", std::trunc(x));
            break;
        }
        return std::string(text);
    };
    std::string text;
    for (int v = 0; v < 600; ++v) {
        text += "v " + number(v) + " " + number(v + 1) + "\t" + number(v + 2) + "\n";
        text += "vn " + number(v + 3) + " " + number(v + 4) + " " + number(v + 5) + "\n";
        text += "vt " + number(v + 6) + " " + number(v + 7) + "\n";
    }
    for (int f = 0; f < 600; ++f) {
        const int a = f + 1, b = (f + 1) % 600 + 1, c = (f + 7) % 600 + 1;
        text += "f " + std::to_string(a) + "/" + std::to_string(a) + "/" + std::to_string(a) + " " +
                std::to_string(b) + "/" + std::to_string(b) + "/" + std::to_string(b) + " " +
                std::to_string(c) + "/" + std::to_string(c) + "/" + std::to_string(c) + "\n";
    }
    EXPECT_TRUE(expect_as_assimp("numbers", text));
}

// Files whose reading has a catch. The plain reader must read those marked
// plain, and every one must come out as Assimp's.
TEST(PlainObj, ReadsTrickyFilesAsAssimpDoes) {
    const std::string square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";
    const struct {
        const char* what;
        std::string text;
        bool plain;
    } files[] = {
        {"negative indices", square + "f -4 -3 -2\nv 2 2 0\nf -5 -1 -2\n", true},
        {"faces before their vertices", "f 1 2 3\n" + square, true},
        {"missing normals and texture coordinates", square + "vn 0 0 1\nvt 0 0\nf 1 2 3\n", true},
        {"texture coordinates", square + "vt 0 0\nvt 1 0\nvt 1 1 0\nf 1/1 2/2 3/3\nf 1/1 3/3 4/2\n",
         true},
        {"normals", square + "vn 0 0 1\nvn 0 0 -1\nf 1//1 2//1 3//2\n", true},
        {"all three, negative", square + "vt 0 0\nvt 1 1\nvn 0 0 1\nf -4/-2/-1 -3/-1/-1 -2/-2/-1\n",
         true},
        {"shared corners keep one vertex", square + "v 0 0 0\nf 1 2 3\nf 5 3 4\n", true},
        {"carriage returns, tabs, comments",
         "# made by hand\r\nv\t0 0 0\r\nv 1 0 0 \r\n\r\nv 1 1 0\r\nf 1\t2  3 \r\n", true},
        {"no newline at the end", square + "f 1 2 3", true},
        {"continued line", square + "f 1 2 \\\n 3\n", false},
        {"quadrilateral", square + "f 1 2 3 4\n", false},
        {"concave hexagon",
         "v 0 0 0\nv 4 0 0\nv 4 4 0\nv 2 1 0\nv 0 4 0\nv -1 2 0\nf 1 2 3 4 5 6\n", false},
        {"a group", square + "g part\nf 1 2 3\n", false},
        {"a number from its point", square + "v .5 0 0\nv 0 0 1\nf 1 2 5\n", false},
        {"texture index before any vt", square + "f 1/1 2/1 3/1\nvt 0 0\n", false},
        {"some corners without normals", square + "vn 0 0 1\nf 1//1 2//1 3//1\nf 1 3 4\n", false},
        {"normals named, none given", square + "f 1//1 2//1 3//1\n", false},
        {"leading zeros", square + "f 01 2 3\n", false},
        {"a form feed in a comment", square + "# a\fv 9 9 9\nf 1 2 3\n", false},
    };
    for (const auto& file : files) {
        EXPECT_EQ(expect_as_assimp(file.what, file.text), file.plain) << file.what;
    }
}

// A file the plain reader leaves to Assimp is refused with Assimp's reason.
TEST(PlainObj, LeavesBadIndicesToAssimp) {
    const std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n";
    Mesh mesh;
    EXPECT_FALSE(preview::read_plain_obj(text.data(), text.size(), mesh));
    std::string error;
    EXPECT_FALSE(preview::parse_mesh("m.obj", text.data(), text.size(), mesh, error));
    EXPECT_EQ(error, "OBJ: vertex index out of range");
}

// A binary file and its ascii twin, which the value-by-value reader reads,
// give the same mesh to the bit; a value between the coordinates and the
// normals, and an element after the faces, are skipped; a quadrilateral
// sends the binary file to the value-by-value reader, with the same result.
TEST(FixedBinaryPly, ReadsAsTheValueByValueReaderDoes) {
    std::mt19937 random(22);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const size_t vertices = 70, faces = 90;
    std::vector<float> values(vertices * 8);
    for (float& value : values) {
        value = unit(random) * 1000.0f;
    }
    std::vector<uint32_t> corners(faces * 3);
    for (uint32_t& corner : corners) {
        corner = uint32_t(random() % vertices);
    }
    // Faces 0 and 1 are also the fan of the quadrilateral (0 1 2 5).
    corners[3] = corners[0];
    corners[4] = corners[2];
    auto header = [&](const char* format, bool quad) {
        return std::string("ply\nformat ") + format + " 1.0\nelement vertex " +
               std::to_string(vertices) +
               "\nproperty float x\nproperty float y\nproperty float z\nproperty uchar red\n"
               "property float nx\nproperty float ny\nproperty float nz\nproperty float s\n"
               "property float t\nelement face " +
               std::to_string(faces - (quad ? 1 : 0)) +
               "\nproperty list uchar int vertex_indices\nelement edge 1\nproperty int a\n"
               "property short b\nend_header\n";
    };
    auto ascii = [&](bool quad) {
        std::string text = header("ascii", quad);
        char number[32];
        for (size_t v = 0; v < vertices; ++v) {
            for (size_t k = 0; k < 8; ++k) {
                std::snprintf(number, sizeof number, "%.9g ", double(values[8 * v + k]));
                text += number;
                text += k == 2 ? "7 " : "";
            }
            text += "\n";
        }
        for (size_t f = quad ? 1 : 0; f < faces; ++f) {
            const bool four = quad && f == 1;
            text += four ? "4 " + std::to_string(corners[0]) + " " : "3 ";
            for (size_t k = four ? 1 : 0; k < 3; ++k) {
                text += std::to_string(corners[3 * (four ? 0 : f) + k]) + " ";
            }
            text += four ? std::to_string(corners[5]) + "\n" : "\n";
        }
        return text + "1 2\n";
    };
    auto binary = [&](bool big_endian, bool quad) {
        std::string text = header(big_endian ? "binary_big_endian" : "binary_little_endian", quad);
        auto put = [&](const void* value, size_t bytes) {
            for (size_t i = 0; i < bytes; ++i) {
                text += static_cast<const char*>(value)[big_endian ? bytes - 1 - i : i];
            }
        };
        const unsigned char red = 7, three = 3, four = 4;
        for (size_t v = 0; v < vertices; ++v) {
            for (size_t k = 0; k < 8; ++k) {
                put(&values[8 * v + k], 4);
                if (k == 2) {
                    put(&red, 1);
                }
            }
        }
        for (size_t f = quad ? 1 : 0; f < faces; ++f) {
            if (quad && f == 1) {
                put(&four, 1);
                for (size_t k : {0, 1, 2, 5}) {
                    put(&corners[k], 4);
                }
                continue;
            }
            put(&three, 1);
            for (size_t k = 0; k < 3; ++k) {
                put(&corners[3 * f + k], 4);
            }
        }
        const int32_t a = 1;
        const int16_t b = 2;
        put(&a, 4);
        put(&b, 2);
        return text;
    };
    for (bool quad : {false, true}) {
        const std::string twin = ascii(quad);
        Mesh expected;
        std::string error;
        ASSERT_TRUE(preview::parse_mesh("m.ply", twin.data(), twin.size(), expected, error))
            << error;
        ASSERT_EQ(expected.triangles.size(), 3 * faces);
        for (bool big_endian : {false, true}) {
            const std::string text = binary(big_endian, quad);
            Mesh mesh;
            ASSERT_TRUE(preview::parse_mesh("m.ply", text.data(), text.size(), mesh, error))
                << error;
            EXPECT_EQ(mesh.triangles, expected.triangles) << big_endian << quad;
            ASSERT_EQ(mesh.positions.size(), vertices);
            ASSERT_EQ(mesh.normals.size(), vertices);
            ASSERT_EQ(mesh.uvs.size(), vertices);
            EXPECT_TRUE(same_bits(mesh.positions.data(), expected.positions.data(),
                                  sizeof(preview::Float3) * vertices));
            EXPECT_TRUE(same_bits(mesh.normals.data(), expected.normals.data(),
                                  sizeof(preview::Float3) * vertices));
            EXPECT_TRUE(same_bits(mesh.uvs.data(), expected.uvs.data(),
                                  sizeof(preview::Float2) * vertices));
            // Cut short anywhere in the faces: refused with the reader's reason.
            const std::string cut = text.substr(0, text.size() - 20);
            EXPECT_FALSE(preview::parse_mesh("m.ply", cut.data(), cut.size(), mesh, error));
            EXPECT_NE(error.find("face"), std::string::npos) << error;
        }
    }
}

// Welding and merging against a plain map, on enough vertices to use every
// core and every pass of the sort: each vertex names the first vertex with
// its key; -0 welds with +0, a NaN with nothing; merging keeps the first of
// each set of identical vertices, in order, and renumbers the triangles.
TEST(VertexMerging, FindsTheFirstEqualVertexAsAMapDoes) {
    std::mt19937 random(22);
    std::vector<preview::Float3> positions(200000);
    for (size_t v = 0; v < positions.size(); ++v) {
        const float x = float(random() % 300) * 0.5f, y = float(random() % 300) - 150.0f;
        positions[v] = {x, y, v % 7 == 0 ? -0.0f : 0.0f};
    }
    positions[5].y = std::nanf("");
    positions[6].y = std::nanf("");
    const std::vector<uint32_t> welded = preview::weld_positions(positions);
    std::map<std::pair<float, float>, uint32_t> first;
    for (size_t v = 0; v < positions.size(); ++v) {
        const preview::Float3 p = positions[v];
        const uint32_t expected = std::isnan(p.y)
                                      ? uint32_t(v)
                                      : first.emplace(std::make_pair(p.x, p.y), v).first->second;
        ASSERT_EQ(welded[v], expected) << v;
    }
    // Merging: the normals tell the -0 copies from the +0 ones apart, so
    // only vertices equal in every bit become one.
    Mesh mesh;
    mesh.positions = positions;
    mesh.normals.resize(positions.size());
    for (size_t v = 0; v < positions.size(); ++v) {
        mesh.normals[v] = {0.0f, 0.0f, v % 3 == 0 ? 1.0f : -1.0f};
        mesh.triangles.push_back(uint32_t(v));
    }
    Mesh merged = mesh;
    preview::merge_identical_vertices(merged);
    std::map<std::vector<uint32_t>, uint32_t> kept;
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        std::vector<uint32_t> bits(6);
        std::memcpy(bits.data(), &mesh.positions[v], 12);
        std::memcpy(bits.data() + 3, &mesh.normals[v], 12);
        const bool nan = std::isnan(mesh.positions[v].y);
        const uint32_t index = uint32_t(kept.size());
        const uint32_t expected = kept.emplace(bits, index).first->second;
        ASSERT_EQ(merged.triangles[v], expected) << v << (nan ? " (NaN)" : "");
        ASSERT_TRUE(same_bits(&merged.positions[expected], &mesh.positions[v], 12));
        ASSERT_TRUE(same_bits(&merged.normals[expected], &mesh.normals[v], 12));
    }
    EXPECT_EQ(merged.positions.size(), kept.size());
}

} // namespace
