#include "preview/render/vertex_ply.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "preview/image/output_file.h"

namespace preview {
namespace {

// Little-endian bytes whatever the machine's order.
void put_u32(std::vector<unsigned char>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void put_float(std::vector<unsigned char>& out, float value) {
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    put_u32(out, bits);
}

std::string header(size_t vertices, size_t faces, const std::string& comment) {
    std::string text = "ply\nformat binary_little_endian 1.0\n";
    if (!comment.empty()) {
        text += "comment " + comment + "\n";
    }
    text += "element vertex " + std::to_string(vertices) + "\n";
    for (const char* name : {"x", "y", "z", "k1", "k2", "mean", "gaussian"}) {
        text += std::string("property float ") + name + "\n";
    }
    for (const char* name : {"red", "green", "blue"}) {
        text += std::string("property uchar ") + name + "\n";
    }
    text += "element face " + std::to_string(faces) + "\n";
    text += "property list uchar int vertex_indices\nend_header\n";
    return text;
}

} // namespace

bool write_vertex_ply(const std::string& path, const std::vector<Float3>& positions,
                      const VertexBake& bake, const ImageStyle& style, const std::string& comment,
                      std::string& error) {
    const size_t count = bake.vertices.size();
    if (bake.k1.size() != count || bake.values.rgba.size() != 4 * count) {
        error = "the vertex bake to write to " + path + " is incomplete";
        return false;
    }
    ImageStyle opaque = style;
    opaque.transparent = false;
    opaque.legend = false;
    OutputFile file;
    if (!file.open(path, error)) {
        return false;
    }
    FILE* stream = file.stream();
    bool written = stream != nullptr;
    const std::string head = header(count, bake.triangles.size() / 3, comment);
    written = written && std::fwrite(head.data(), 1, head.size(), stream) == head.size();
    // Written in blocks, so that a large mesh needs no second copy in memory.
    std::vector<unsigned char> block;
    auto flush = [&]() {
        written = written && std::fwrite(block.data(), 1, block.size(), stream) == block.size();
        block.clear();
    };
    for (size_t w = 0; w < count && written; ++w) {
        const Float3 p = positions[bake.vertices[w]];
        for (float value :
             {p.x, p.y, p.z, bake.k1[w], bake.k2[w], bake.mean[w], bake.gaussian[w]}) {
            put_float(block, value);
        }
        unsigned char colour[4] = {0, 0, 0, 0};
        const float* rgba = &bake.values.rgba[4 * w];
        if (rgba[3] > 0.0f) {
            png_pixel(rgba, opaque, colour);
        }
        block.insert(block.end(), colour, colour + 3);
        if (block.size() >= (1u << 16)) {
            flush();
        }
    }
    for (size_t c = 0; c + 2 < bake.triangles.size() && written; c += 3) {
        block.push_back(3);
        for (size_t k = 0; k < 3; ++k) {
            put_u32(block, bake.triangles[c + k]);
        }
        if (block.size() >= (1u << 16)) {
            flush();
        }
    }
    if (written) {
        flush();
    }
    if (!written && error.empty()) {
        error = "cannot write " + path;
    }
    return file.finish(written, error);
}

} // namespace preview
