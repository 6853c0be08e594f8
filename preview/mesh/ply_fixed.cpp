// Binary PLY files of fixed-size records, read on every core: what scanners
// and mesh tools write (float coordinates, faces of a byte count and three
// int indices). Every record sits at a known offset, so the vertices and
// the faces split into chunks that threads read independently, each value
// converted exactly as ply.cpp's reader converts it.
#include <atomic>

#include "preview/mesh/parallel.h"
#include "preview/mesh/ply_format.h"

namespace preview {
namespace ply {
namespace {

// Where an element's records lie in the body.
struct Layout {
    size_t offset = 0; // of the first record
    size_t record = 0; // bytes a record
};

// The bytes of a record of single values; 0 if the element has a list.
size_t fixed_record(const PlyElement& element) {
    size_t bytes = 0;
    for (const PlyProperty& property : element.properties) {
        if (property.is_list) {
            return 0;
        }
        bytes += ply_size(property.type);
    }
    return bytes;
}

// Records of about 64k to a chunk.
constexpr size_t chunk_records = size_t(1) << 16;

size_t chunks_of(size_t records) {
    return (records + chunk_records - 1) / chunk_records;
}

} // namespace

bool read_fixed_binary(const std::vector<PlyElement>& elements, PlyFormat format,
                       std::string_view body, Mesh& mesh, Progress* progress) {
    mesh = Mesh{};
    if (format == PlyFormat::ascii) {
        return false;
    }
    const bool big_endian = format == PlyFormat::big_endian;
    // The layout: one vertex element of single values, at most one face
    // element after it holding one list, any other element of single values.
    const PlyElement *vertex = nullptr, *face = nullptr;
    Layout vertices, faces;
    size_t offset = 0;
    for (const PlyElement& element : elements) {
        size_t record = fixed_record(element);
        if (element.name == "vertex") {
            if (vertex != nullptr || record == 0) {
                return false;
            }
            vertex = &element;
            vertices = {offset, record};
        } else if (element.name == "face") {
            const PlyProperty& list =
                element.properties.empty() ? PlyProperty{} : element.properties[0];
            if (vertex == nullptr || face != nullptr || element.properties.size() != 1 ||
                !list.is_list || ply_size(list.count_type) == 0 || ply_size(list.type) == 0) {
                return false;
            }
            face = &element;
            record = ply_size(list.count_type) + 3 * ply_size(list.type);
            faces = {offset, record};
        } else if (record == 0 && element.count > 0) {
            return false;
        }
        // Counts are at most 2^26 (the header's check) and records at most a
        // few hundred bytes: no overflow.
        offset += element.count * record;
        if (offset > body.size()) {
            return false; // cut short
        }
    }
    if (vertex == nullptr) {
        return false;
    }
    // Where x, y, z, nx, ny, nz and the texture coordinates sit in a record.
    int slot[value_slots] = {-1, -1, -1, -1, -1, -1, -1, -1};
    size_t at[value_slots] = {};
    PlyType type[value_slots] = {};
    size_t position_in_record = 0;
    for (const PlyProperty& property : vertex->properties) {
        const int k = vertex_slot(property.name);
        if (k >= 0) {
            slot[k] = 1;
            at[k] = position_in_record;
            type[k] = property.type;
        }
        position_in_record += ply_size(property.type);
    }
    if (slot[0] < 0 || slot[1] < 0 || slot[2] < 0) {
        return false;
    }
    const bool normals = slot[3] >= 0 && slot[4] >= 0 && slot[5] >= 0;
    const bool uvs = slot[6] >= 0 && slot[7] >= 0;
    const size_t vertex_count = vertex->count;
    const size_t face_count = face == nullptr ? 0 : face->count;
    mesh.positions.resize(vertex_count);
    mesh.normals.resize(normals ? vertex_count : 0);
    mesh.uvs.resize(uvs ? vertex_count : 0);
    mesh.triangles.resize(3 * face_count);

    const auto* data = reinterpret_cast<const unsigned char*>(body.data());
    const size_t vertex_chunks = chunks_of(vertex_count);
    const size_t all_chunks = vertex_chunks + chunks_of(face_count);
    std::atomic<bool> readable{true};
    std::atomic<size_t> chunks_done{0};
    auto value = [&](const unsigned char* record, int k) {
        return float(binary_value(record + at[k], type[k], big_endian));
    };
    auto read_vertices = [&](size_t first, size_t last) {
        for (size_t v = first; v < last; ++v) {
            const unsigned char* record = data + vertices.offset + v * vertices.record;
            mesh.positions[v] = {value(record, 0), value(record, 1), value(record, 2)};
            if (normals) {
                mesh.normals[v] = {value(record, 3), value(record, 4), value(record, 5)};
            }
            if (uvs) {
                mesh.uvs[v] = {value(record, 6), value(record, 7)};
            }
        }
    };
    auto read_faces = [&](size_t first, size_t last) {
        const PlyProperty& list = face->properties[0];
        const size_t count_bytes = ply_size(list.count_type), index_bytes = ply_size(list.type);
        for (size_t f = first; f < last; ++f) {
            const unsigned char* record = data + faces.offset + f * faces.record;
            if (binary_value(record, list.count_type, big_endian) != 3.0) {
                readable = false; // not a triangle: the records are not all alike
                return;
            }
            for (size_t k = 0; k < 3; ++k) {
                const double index =
                    binary_value(record + count_bytes + k * index_bytes, list.type, big_endian);
                if (!(index >= 0.0 && index < double(vertex_count))) {
                    readable = false;
                    return;
                }
                mesh.triangles[3 * f + k] = uint32_t(index);
            }
        }
    };
    run_chunks(all_chunks, [&](size_t chunk) {
        if (!readable) {
            return;
        }
        if (chunk < vertex_chunks) {
            const size_t first = chunk * chunk_records;
            read_vertices(first, std::min(vertex_count, first + chunk_records));
        } else {
            const size_t first = (chunk - vertex_chunks) * chunk_records;
            read_faces(first, std::min(face_count, first + chunk_records));
        }
        const size_t done = ++chunks_done;
        if (progress != nullptr) {
            progress->advance(double(done) / double(all_chunks));
        }
    });
    if (!readable) {
        mesh = Mesh{};
        return false;
    }
    return true;
}

} // namespace ply
} // namespace preview
