#include "preview/mesh/weld.h"

#include <cmath>
#include <cstring>

namespace preview {
namespace {

struct Key {
    uint32_t bits[3];
    bool operator==(const Key& other) const {
        return bits[0] == other.bits[0] && bits[1] == other.bits[1] && bits[2] == other.bits[2];
    }
};

struct KeyHash {
    size_t operator()(const Key& key) const {
        uint64_t h = 0x9e3779b97f4a7c15ULL;
        for (uint32_t b : key.bits) {
            h = (h ^ b) * 0x100000001b3ULL;
            h ^= h >> 29;
        }
        return size_t(h);
    }
};

uint32_t bits_of(float value) {
    // -0 and +0 are the same point.
    if (value == 0.0f) {
        value = 0.0f;
    }
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

} // namespace

std::vector<uint32_t> weld_positions(const std::vector<Float3>& positions) {
    // An open-addressing table of vertex indices (linear probing, at most
    // half full): a million vertices weld in a few hundredths of a second,
    // where a node-based map spends a third of one allocating.
    constexpr uint32_t empty = UINT32_MAX;
    size_t size = 16;
    while (size < 2 * positions.size()) {
        size *= 2;
    }
    std::vector<uint32_t> table(size, empty);
    std::vector<Key> keys(positions.size());
    std::vector<uint32_t> representative(positions.size());
    const KeyHash hash;
    for (size_t v = 0; v < positions.size(); ++v) {
        const Float3 p = positions[v];
        representative[v] = uint32_t(v);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            continue;
        }
        keys[v] = Key{{bits_of(p.x), bits_of(p.y), bits_of(p.z)}};
        for (size_t slot = hash(keys[v]) & (size - 1);; slot = (slot + 1) & (size - 1)) {
            if (table[slot] == empty) {
                table[slot] = uint32_t(v);
                break;
            }
            if (keys[table[slot]] == keys[v]) {
                representative[v] = table[slot];
                break;
            }
        }
    }
    return representative;
}

void merge_identical_vertices(Mesh& mesh) {
    const size_t count = mesh.positions.size();
    const bool normals = mesh.normals.size() == count;
    const bool uvs = mesh.uvs.size() == count;
    // A vertex's values as words: position, then normal, then uv.
    auto words = [&](size_t v, uint32_t* out) {
        size_t n = 0;
        auto put = [&](const void* value, size_t bytes) {
            std::memcpy(out + n, value, bytes);
            n += bytes / 4;
        };
        put(&mesh.positions[v], sizeof(Float3));
        if (normals) {
            put(&mesh.normals[v], sizeof(Float3));
        }
        if (uvs) {
            put(&mesh.uvs[v], sizeof(Float2));
        }
        return n;
    };
    size_t size = 16;
    while (size < 2 * count) {
        size *= 2;
    }
    constexpr uint32_t empty = UINT32_MAX;
    std::vector<uint32_t> table(size, empty);
    std::vector<uint32_t> kept(count); // per vertex: its new index
    size_t kept_count = 0;
    for (size_t v = 0; v < count; ++v) {
        uint32_t key[8];
        const size_t n = words(v, key);
        uint64_t h = 0x9e3779b97f4a7c15ULL;
        for (size_t k = 0; k < n; ++k) {
            h = (h ^ key[k]) * 0x100000001b3ULL;
            h ^= h >> 29;
        }
        for (size_t slot = h & (size - 1);; slot = (slot + 1) & (size - 1)) {
            if (table[slot] == empty) {
                table[slot] = uint32_t(v);
                kept[v] = uint32_t(kept_count++);
                break;
            }
            uint32_t other[8];
            words(table[slot], other);
            if (std::memcmp(key, other, n * 4) == 0) {
                kept[v] = kept[table[slot]];
                break;
            }
        }
    }
    if (kept_count == count) {
        return;
    }
    for (uint32_t& index : mesh.triangles) {
        if (index < count) {
            index = kept[index];
        }
    }
    for (size_t v = 0; v < count; ++v) {
        const size_t to = kept[v];
        mesh.positions[to] = mesh.positions[v];
        if (normals) {
            mesh.normals[to] = mesh.normals[v];
        }
        if (uvs) {
            mesh.uvs[to] = mesh.uvs[v];
        }
    }
    mesh.positions.resize(kept_count);
    mesh.normals.resize(normals ? kept_count : mesh.normals.size());
    mesh.uvs.resize(uvs ? kept_count : mesh.uvs.size());
    mesh.positions.shrink_to_fit();
    mesh.normals.shrink_to_fit();
    mesh.uvs.shrink_to_fit();
}

} // namespace preview
