#include "preview/mesh/ply.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "preview/mesh/ply_format.h"

namespace preview {
namespace {

using namespace ply;

// The most vertices or faces a file may declare. Larger counts are refused
// before anything is allocated, so a hostile header cannot exhaust memory.
constexpr size_t max_mesh_elements = size_t(1) << 26;

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

} // namespace

namespace {

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

// Reads body values one at a time, from ascii tokens or binary bytes.
struct PlyReader {
    std::string_view body;
    size_t pos = 0;
    PlyFormat format = PlyFormat::ascii;

    bool read(PlyType type, double& value) {
        if (format == PlyFormat::ascii) {
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
        value = binary_value(reinterpret_cast<const unsigned char*>(body.data() + pos), type,
                             format == PlyFormat::big_endian);
        pos += bytes;
        return true;
    }
};

bool parse_ply_header(std::string_view text, size_t& body_start, PlyFormat& body_format,
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
                body_format = PlyFormat::ascii;
            } else if (format == "binary_little_endian") {
                body_format = PlyFormat::little_endian;
            } else if (format == "binary_big_endian") {
                body_format = PlyFormat::big_endian;
            } else {
                return fail(error, "PLY: format '" + std::string(format) + "' is not a PLY format");
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

bool parse_ply(const char* data, size_t size, Mesh& mesh, std::string& error, Progress* progress) {
    mesh = Mesh{};
    const std::string_view text(data, data == nullptr ? 0 : size);
    size_t body_start = 0;
    PlyFormat format = PlyFormat::ascii;
    std::vector<PlyElement> elements;
    if (!parse_ply_header(text, body_start, format, elements, error)) {
        return false;
    }
    if (read_fixed_binary(elements, format, text.substr(body_start), mesh, progress)) {
        return true;
    }
    PlyReader reader{text.substr(body_start), 0, format};
    bool have_vertices = false;
    bool have_normals = false;
    bool have_uvs = false;
    std::vector<uint32_t> corners;
    for (const PlyElement& element : elements) {
        const bool is_vertex = element.name == "vertex";
        const bool is_face = element.name == "face";
        // Where x, y, z, nx, ny, nz and the texture coordinates sit among
        // the vertex properties.
        int slot[value_slots] = {-1, -1, -1, -1, -1, -1, -1, -1};
        if (is_vertex) {
            for (size_t p = 0; p < element.properties.size(); ++p) {
                const int k = vertex_slot(element.properties[p].name);
                if (k >= 0 && !element.properties[p].is_list) {
                    slot[k] = int(p);
                }
            }
            if (slot[0] < 0 || slot[1] < 0 || slot[2] < 0) {
                return fail(error, "PLY: the vertex element lacks x, y or z");
            }
            have_vertices = true;
            have_normals = slot[3] >= 0 && slot[4] >= 0 && slot[5] >= 0;
            have_uvs = slot[6] >= 0 && slot[7] >= 0;
            // Every vertex takes at least a byte of the body: a header may
            // not reserve more than the file can hold.
            const size_t room = std::min(element.count, reader.body.size());
            mesh.positions.reserve(room);
            if (have_normals) {
                mesh.normals.reserve(room);
            }
            if (have_uvs) {
                mesh.uvs.reserve(room);
            }
        }
        if (is_face && !have_vertices) {
            return fail(error, "PLY: faces come before the vertex element");
        }
        bool face_list_taken = false;
        for (size_t i = 0; i < element.count; ++i) {
            if (progress != nullptr && i % 65536 == 0) {
                progress->advance(double(reader.pos) /
                                  double(std::max<size_t>(1, reader.body.size())));
            }
            double values[value_slots] = {};
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
                    for (int k = 0; k < value_slots; ++k) {
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
                if (have_uvs) {
                    mesh.uvs.push_back(Float2{float(values[6]), float(values[7])});
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

} // namespace preview
