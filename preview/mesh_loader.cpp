#include "preview/mesh_loader.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace preview {
namespace {

// ---- A cursor over the buffer that never reads past its end ----

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The next line of text (without its end-of-line), advancing pos past it.
std::string_view next_line(std::string_view text, size_t& pos) {
    const size_t start = pos;
    const size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
        pos = text.size();
        return text.substr(start);
    }
    pos = end + 1;
    return text.substr(start, end - start);
}

// The next whitespace-separated token of a line, advancing pos past it;
// empty at the end of the line.
std::string_view next_token(std::string_view line, size_t& pos) {
    while (pos < line.size() && is_space(line[pos])) {
        ++pos;
    }
    const size_t start = pos;
    while (pos < line.size() && !is_space(line[pos])) {
        ++pos;
    }
    return line.substr(start, pos - start);
}

bool to_float(std::string_view token, float& value) {
    if (token.empty()) {
        return false;
    }
    // from_chars takes no leading '+', which some exporters write.
    if (token.front() == '+') {
        token.remove_prefix(1);
    }
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

bool to_long(std::string_view token, long long& value) {
    if (token.empty()) {
        return false;
    }
    if (token.front() == '+') {
        token.remove_prefix(1);
    }
    const auto result = std::from_chars(token.data(), token.data() + token.size(), value);
    return result.ec == std::errc() && result.ptr == token.data() + token.size();
}

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

// Splits a polygon of corners into a fan of triangles.
void add_fan(const std::vector<uint32_t>& corners, std::vector<uint32_t>& triangles) {
    for (size_t i = 2; i < corners.size(); ++i) {
        triangles.push_back(corners[0]);
        triangles.push_back(corners[i - 1]);
        triangles.push_back(corners[i]);
    }
}

// ---- OBJ ----

// Resolves a 1-based (or negative, counted from the end) OBJ index.
bool obj_index(std::string_view token, size_t count, uint32_t& index) {
    long long value = 0;
    if (!to_long(token, value) || value == 0) {
        return false;
    }
    const long long resolved = value > 0 ? value - 1 : static_cast<long long>(count) + value;
    if (resolved < 0 || resolved >= static_cast<long long>(count)) {
        return false;
    }
    index = static_cast<uint32_t>(resolved);
    return true;
}

} // namespace

bool parse_obj(const char* data, size_t size, Mesh& mesh, std::string& error) {
    mesh = Mesh{};
    const std::string_view text(data, data == nullptr ? 0 : size);
    std::vector<Float3> file_normals;
    std::vector<int64_t> normal_of_position; // -1: none yet
    bool normals_usable = true;
    std::vector<uint32_t> corners;
    size_t pos = 0;
    size_t line_number = 0;
    while (pos < text.size()) {
        const std::string_view line = next_line(text, pos);
        ++line_number;
        size_t at = 0;
        const std::string_view keyword = next_token(line, at);
        const std::string where = "OBJ line " + std::to_string(line_number) + ": ";
        if (keyword == "v" || keyword == "vn") {
            Float3 p{};
            if (!to_float(next_token(line, at), p.x) || !to_float(next_token(line, at), p.y) ||
                !to_float(next_token(line, at), p.z)) {
                return fail(error,
                            where + "expected three numbers after '" + std::string(keyword) + "'");
            }
            std::vector<Float3>& target = keyword == "v" ? mesh.positions : file_normals;
            if (target.size() >= max_mesh_elements) {
                return fail(error, where + "too many vertices");
            }
            target.push_back(p);
            if (keyword == "v") {
                normal_of_position.push_back(-1);
            }
        } else if (keyword == "f") {
            corners.clear();
            for (std::string_view corner = next_token(line, at); !corner.empty();
                 corner = next_token(line, at)) {
                const size_t slash = corner.find('/');
                uint32_t index = 0;
                if (!obj_index(corner.substr(0, slash), mesh.positions.size(), index)) {
                    return fail(error, where + "face corner '" + std::string(corner) +
                                           "' names no earlier vertex");
                }
                corners.push_back(index);
                // A normal index after the second slash, if any.
                const size_t second = slash == std::string_view::npos ? std::string_view::npos
                                                                      : corner.find('/', slash + 1);
                uint32_t normal = 0;
                if (second == std::string_view::npos ||
                    !obj_index(corner.substr(second + 1), file_normals.size(), normal)) {
                    normals_usable = false;
                } else if (normal_of_position[index] < 0) {
                    normal_of_position[index] = normal;
                } else if (normal_of_position[index] != int64_t(normal)) {
                    normals_usable = false; // split normals: smooth ones are computed
                }
            }
            if (corners.size() < 3) {
                return fail(error, where + "a face needs at least three corners");
            }
            if (mesh.triangles.size() / 3 + corners.size() > max_mesh_elements) {
                return fail(error, where + "too many faces");
            }
            add_fan(corners, mesh.triangles);
        }
        // Other records (vt, o, g, s, usemtl, comments) do not concern shape.
    }
    if (normals_usable && !mesh.triangles.empty()) {
        mesh.normals.resize(mesh.positions.size(), Float3{0.0f, 0.0f, 0.0f});
        for (size_t i = 0; i < mesh.positions.size(); ++i) {
            if (normal_of_position[i] >= 0) {
                mesh.normals[i] = file_normals[size_t(normal_of_position[i])];
            }
        }
    }
    return true;
}

// ---- PLY ----

namespace {

enum class PlyType { none, i8, u8, i16, u16, i32, u32, f32, f64 };

PlyType ply_type(std::string_view name) {
    if (name == "char" || name == "int8")
        return PlyType::i8;
    if (name == "uchar" || name == "uint8")
        return PlyType::u8;
    if (name == "short" || name == "int16")
        return PlyType::i16;
    if (name == "ushort" || name == "uint16")
        return PlyType::u16;
    if (name == "int" || name == "int32")
        return PlyType::i32;
    if (name == "uint" || name == "uint32")
        return PlyType::u32;
    if (name == "float" || name == "float32")
        return PlyType::f32;
    if (name == "double" || name == "float64")
        return PlyType::f64;
    return PlyType::none;
}

size_t ply_size(PlyType type) {
    switch (type) {
    case PlyType::i8:
    case PlyType::u8:
        return 1;
    case PlyType::i16:
    case PlyType::u16:
        return 2;
    case PlyType::i32:
    case PlyType::u32:
    case PlyType::f32:
        return 4;
    case PlyType::f64:
        return 8;
    case PlyType::none:
        break;
    }
    return 0;
}

struct PlyProperty {
    std::string name;
    PlyType type = PlyType::none;       // the value's type
    PlyType count_type = PlyType::none; // for lists: the count's type
    bool is_list = false;
};

struct PlyElement {
    std::string name;
    size_t count = 0;
    std::vector<PlyProperty> properties;
};

// Reads body values one at a time, from ascii tokens or little-endian bytes.
struct PlyReader {
    std::string_view body;
    size_t pos = 0;
    bool binary = false;

    bool read(PlyType type, double& value) {
        if (!binary) {
            // Tokens may span lines; skip all white space, newlines included.
            while (pos < body.size() && (is_space(body[pos]) || body[pos] == '\n')) {
                ++pos;
            }
            const size_t start = pos;
            while (pos < body.size() && !is_space(body[pos]) && body[pos] != '\n') {
                ++pos;
            }
            float f = 0.0f;
            long long i = 0;
            const std::string_view token = body.substr(start, pos - start);
            if (type == PlyType::f32 || type == PlyType::f64) {
                if (!to_float(token, f)) {
                    return false;
                }
                value = f;
            } else {
                if (!to_long(token, i)) {
                    return false;
                }
                value = double(i);
            }
            return true;
        }
        const size_t bytes = ply_size(type);
        if (bytes == 0 || body.size() - pos < bytes) {
            return false;
        }
        unsigned char raw[8] = {};
        std::memcpy(raw, body.data() + pos, bytes);
        pos += bytes;
        // Assemble little-endian bytes explicitly: the host's order does not matter.
        uint64_t u = 0;
        for (size_t i = bytes; i-- > 0;) {
            u = (u << 8) | raw[i];
        }
        switch (type) {
        case PlyType::i8:
            value = double(int8_t(uint8_t(u)));
            break;
        case PlyType::u8:
            value = double(uint8_t(u));
            break;
        case PlyType::i16:
            value = double(int16_t(uint16_t(u)));
            break;
        case PlyType::u16:
            value = double(uint16_t(u));
            break;
        case PlyType::i32:
            value = double(int32_t(uint32_t(u)));
            break;
        case PlyType::u32:
            value = double(uint32_t(u));
            break;
        case PlyType::f32: {
            const uint32_t w = uint32_t(u);
            float f = 0.0f;
            std::memcpy(&f, &w, 4);
            value = double(f);
            break;
        }
        case PlyType::f64:
            std::memcpy(&value, &u, 8);
            break;
        case PlyType::none:
            return false;
        }
        return true;
    }
};

bool parse_ply_header(std::string_view text, size_t& body_start, bool& binary,
                      std::vector<PlyElement>& elements, std::string& error) {
    size_t pos = 0;
    if (next_line(text, pos).substr(0, 3) != "ply") {
        return fail(error, "PLY: the file does not start with 'ply'");
    }
    bool have_format = false;
    while (pos < text.size()) {
        const std::string_view line = next_line(text, pos);
        size_t at = 0;
        const std::string_view keyword = next_token(line, at);
        if (keyword == "format") {
            const std::string_view format = next_token(line, at);
            if (format == "ascii") {
                binary = false;
            } else if (format == "binary_little_endian") {
                binary = true;
            } else {
                return fail(error, "PLY: format '" + std::string(format) +
                                       "' is not supported (ascii or binary_little_endian)");
            }
            have_format = true;
        } else if (keyword == "element") {
            PlyElement element;
            element.name = std::string(next_token(line, at));
            long long count = 0;
            if (!to_long(next_token(line, at), count) || count < 0 ||
                count > static_cast<long long>(max_mesh_elements)) {
                return fail(error, "PLY: element '" + element.name + "' has a bad count");
            }
            element.count = size_t(count);
            elements.push_back(element);
        } else if (keyword == "property") {
            if (elements.empty()) {
                return fail(error, "PLY: a property comes before any element");
            }
            PlyProperty property;
            const std::string_view type = next_token(line, at);
            if (type == "list") {
                property.is_list = true;
                property.count_type = ply_type(next_token(line, at));
                property.type = ply_type(next_token(line, at));
                if (property.count_type == PlyType::none || property.count_type == PlyType::f32 ||
                    property.count_type == PlyType::f64) {
                    return fail(error, "PLY: a list has a bad count type");
                }
            } else {
                property.type = ply_type(type);
            }
            if (property.type == PlyType::none) {
                return fail(error, "PLY: unknown property type in '" + std::string(line) + "'");
            }
            property.name = std::string(next_token(line, at));
            elements.back().properties.push_back(property);
        } else if (keyword == "end_header") {
            if (!have_format) {
                return fail(error, "PLY: the header has no format line");
            }
            body_start = pos;
            return true;
        }
        // comment and obj_info lines are skipped.
    }
    return fail(error, "PLY: the header has no end_header line");
}

} // namespace

bool parse_ply(const char* data, size_t size, Mesh& mesh, std::string& error) {
    mesh = Mesh{};
    const std::string_view text(data, data == nullptr ? 0 : size);
    size_t body_start = 0;
    bool binary = false;
    std::vector<PlyElement> elements;
    if (!parse_ply_header(text, body_start, binary, elements, error)) {
        return false;
    }
    PlyReader reader{text.substr(body_start), 0, binary};
    bool have_vertices = false;
    bool have_normals = false;
    std::vector<uint32_t> corners;
    for (const PlyElement& element : elements) {
        const bool is_vertex = element.name == "vertex";
        const bool is_face = element.name == "face";
        // Where x, y, z and nx, ny, nz sit among the vertex properties.
        int slot[6] = {-1, -1, -1, -1, -1, -1};
        const char* names[6] = {"x", "y", "z", "nx", "ny", "nz"};
        if (is_vertex) {
            for (size_t p = 0; p < element.properties.size(); ++p) {
                for (int k = 0; k < 6; ++k) {
                    if (element.properties[p].name == names[k] && !element.properties[p].is_list) {
                        slot[k] = int(p);
                    }
                }
            }
            if (slot[0] < 0 || slot[1] < 0 || slot[2] < 0) {
                return fail(error, "PLY: the vertex element lacks x, y or z");
            }
            have_vertices = true;
            have_normals = slot[3] >= 0 && slot[4] >= 0 && slot[5] >= 0;
            mesh.positions.reserve(element.count);
            if (have_normals) {
                mesh.normals.reserve(element.count);
            }
        }
        if (is_face && !have_vertices) {
            return fail(error, "PLY: faces come before the vertex element");
        }
        bool face_list_taken = false;
        for (size_t i = 0; i < element.count; ++i) {
            double values[6] = {};
            face_list_taken = false;
            for (size_t p = 0; p < element.properties.size(); ++p) {
                const PlyProperty& property = element.properties[p];
                if (property.is_list) {
                    double count = 0.0;
                    if (!reader.read(property.count_type, count) || count < 0.0 || count > 1024.0) {
                        return fail(error, "PLY: " + element.name + " " + std::to_string(i) +
                                               ": bad or truncated list count");
                    }
                    const bool wanted = is_face && !face_list_taken;
                    corners.clear();
                    for (size_t k = 0; k < size_t(count); ++k) {
                        double index = 0.0;
                        if (!reader.read(property.type, index)) {
                            return fail(error, "PLY: " + element.name + " " + std::to_string(i) +
                                                   ": truncated list");
                        }
                        if (wanted) {
                            if (!(index >= 0.0 && index < double(mesh.positions.size()))) {
                                return fail(error, "PLY: face " + std::to_string(i) +
                                                       " names a vertex that does not exist");
                            }
                            corners.push_back(uint32_t(index));
                        }
                    }
                    if (wanted) {
                        face_list_taken = true;
                        if (corners.size() < 3) {
                            return fail(error, "PLY: face " + std::to_string(i) +
                                                   " has fewer than three corners");
                        }
                        add_fan(corners, mesh.triangles);
                    }
                } else {
                    double value = 0.0;
                    if (!reader.read(property.type, value)) {
                        return fail(error, "PLY: " + element.name + " " + std::to_string(i) +
                                               ": bad or truncated value");
                    }
                    for (int k = 0; k < 6; ++k) {
                        if (slot[k] == int(p)) {
                            values[k] = value;
                        }
                    }
                }
            }
            if (is_vertex) {
                mesh.positions.push_back(
                    Float3{float(values[0]), float(values[1]), float(values[2])});
                if (have_normals) {
                    mesh.normals.push_back(
                        Float3{float(values[3]), float(values[4]), float(values[5])});
                }
            }
        }
        if (is_face && mesh.triangles.size() / 3 > max_mesh_elements) {
            return fail(error, "PLY: too many faces");
        }
    }
    if (!have_vertices) {
        return fail(error, "PLY: the file has no vertex element");
    }
    return true;
}

bool parse_mesh(const std::string& name, const char* data, size_t size, Mesh& mesh,
                std::string& error) {
    std::string extension;
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos) {
        extension = name.substr(dot + 1);
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
    }
    if (extension == "obj") {
        return parse_obj(data, size, mesh, error);
    }
    if (extension == "ply") {
        return parse_ply(data, size, mesh, error);
    }
    return fail(error, "unknown mesh format '" + extension + "' (expected .obj or .ply)");
}

namespace {

Float3 sub(Float3 a, Float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Float3 cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool finite(Float3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}
double length(Float3 v) {
    return std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
}

} // namespace

bool prepare_mesh(Mesh& mesh, std::string& error) {
    if (mesh.triangles.empty()) {
        return fail(error, "the mesh has no triangles");
    }
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
        if (!finite(mesh.positions[i])) {
            return fail(error, "vertex " + std::to_string(i) +
                                   " has a coordinate that is not a "
                                   "finite number");
        }
    }
    for (uint32_t index : mesh.triangles) {
        if (index >= mesh.positions.size()) {
            return fail(error, "a triangle names a vertex that does not exist");
        }
    }
    bool normals_good = mesh.normals.size() == mesh.positions.size();
    for (size_t i = 0; normals_good && i < mesh.normals.size(); ++i) {
        normals_good = finite(mesh.normals[i]) && length(mesh.normals[i]) > 0.0;
    }
    if (normals_good) {
        for (Float3& n : mesh.normals) {
            const double l = length(n);
            n = {float(n.x / l), float(n.y / l), float(n.z / l)};
        }
        return true;
    }
    // Area-weighted vertex normals: the sum of the unnormalised face normals.
    std::vector<double> sum(mesh.positions.size() * 3, 0.0);
    for (size_t t = 0; t + 2 < mesh.triangles.size(); t += 3) {
        const uint32_t a = mesh.triangles[t], b = mesh.triangles[t + 1], c = mesh.triangles[t + 2];
        const Float3 face = cross(sub(mesh.positions[b], mesh.positions[a]),
                                  sub(mesh.positions[c], mesh.positions[a]));
        for (uint32_t v : {a, b, c}) {
            sum[3 * v] += face.x;
            sum[3 * v + 1] += face.y;
            sum[3 * v + 2] += face.z;
        }
    }
    mesh.normals.assign(mesh.positions.size(), Float3{0.0f, 0.0f, 1.0f});
    for (size_t v = 0; v < mesh.positions.size(); ++v) {
        const double l = std::sqrt(sum[3 * v] * sum[3 * v] + sum[3 * v + 1] * sum[3 * v + 1] +
                                   sum[3 * v + 2] * sum[3 * v + 2]);
        // A vertex used only by degenerate triangles keeps an arbitrary unit normal.
        if (l > 0.0 && std::isfinite(l)) {
            mesh.normals[v] = {float(sum[3 * v] / l), float(sum[3 * v + 1] / l),
                               float(sum[3 * v + 2] / l)};
        }
    }
    return true;
}

namespace {

// Reads a whole regular file; false if it is not one or cannot be read. Plain
// C reads: a stream reading a folder throws instead of failing.
bool read_file(const std::string& path, std::string& contents) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    contents.clear();
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        contents.append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

} // namespace

bool load_mesh(const std::string& path, Mesh& mesh, std::string& error) {
    std::string contents;
    if (!read_file(path, contents)) {
        error = "cannot read mesh " + path;
        return false;
    }
    if (!parse_mesh(path, contents.data(), contents.size(), mesh, error) ||
        !prepare_mesh(mesh, error)) {
        error = "mesh " + path + ": " + error;
        return false;
    }
    return true;
}

} // namespace preview
