#include "preview/mesh/weld.h"

#include <cmath>
#include <cstring>

#include "preview/mesh/parallel.h"

namespace preview {
namespace {

// Hashes a key of 32-bit words; the high half of the result is well mixed
// too (it chooses the share of the table and the tag below).
uint64_t hash_words(const uint32_t* words, size_t count) {
    uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (size_t k = 0; k < count; ++k) {
        h = (h ^ words[k]) * 0x100000001b3ULL;
        h ^= h >> 29;
    }
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

// For every item, the first item whose key equals its own (the item itself
// when none before it does). key(item, words) writes an item's key and
// returns its length in words, 0 for an item that equals nothing.
//
// An open-addressing table of item indices (linear probing, at most half
// full), split by hash among the cores: every thread goes through all items
// in order but keeps only the keys of its own share, so each item meets its
// equals in one table, in order, and the tables are small enough to stay in
// the cache longer. Each entry holds 32 bits of the hash beside the index,
// so that most probes are settled without reading the other item's key.
template <class Key> std::vector<uint32_t> first_equals(size_t count, Key key) {
    std::vector<uint32_t> first(count);
    const size_t shares = count < (size_t(1) << 16) ? 1 : worker_count(count);
    run_chunks(shares, [&](size_t share) {
        size_t size = 16;
        while (size < 2 * count / shares + 1) {
            size *= 2;
        }
        constexpr uint64_t empty = ~uint64_t(0);
        std::vector<uint64_t> table(size, empty);
        uint32_t words[8], other[8];
        for (size_t v = 0; v < count; ++v) {
            const size_t length = key(v, words);
            if (length == 0) {
                if (share == 0) {
                    first[v] = uint32_t(v);
                }
                continue;
            }
            const uint64_t h = hash_words(words, length);
            const uint32_t tag = uint32_t(h >> 32);
            if ((uint64_t(tag) * shares) >> 32 != share) {
                continue;
            }
            for (size_t slot = h & (size - 1);; slot = (slot + 1) & (size - 1)) {
                if (table[slot] == empty) {
                    table[slot] = (uint64_t(tag) << 32) | v;
                    first[v] = uint32_t(v);
                    break;
                }
                const uint32_t candidate = uint32_t(table[slot]);
                if (uint32_t(table[slot] >> 32) == tag && key(candidate, other) == length &&
                    std::memcmp(words, other, 4 * length) == 0) {
                    first[v] = candidate;
                    break;
                }
            }
        }
    });
    return first;
}

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
    return first_equals(positions.size(), [&](size_t v, uint32_t* words) -> size_t {
        const Float3 p = positions[v];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            return 0;
        }
        words[0] = bits_of(p.x);
        words[1] = bits_of(p.y);
        words[2] = bits_of(p.z);
        return 3;
    });
}

void merge_identical_vertices(Mesh& mesh) {
    const size_t count = mesh.positions.size();
    const bool normals = mesh.normals.size() == count;
    const bool uvs = mesh.uvs.size() == count;
    // A vertex's values as words, bit for bit: position, normal, uv.
    const std::vector<uint32_t> first =
        first_equals(count, [&](size_t v, uint32_t* words) -> size_t {
            size_t length = 0;
            auto put = [&](const void* value, size_t bytes) {
                std::memcpy(words + length, value, bytes);
                length += bytes / 4;
            };
            put(&mesh.positions[v], sizeof(Float3));
            if (normals) {
                put(&mesh.normals[v], sizeof(Float3));
            }
            if (uvs) {
                put(&mesh.uvs[v], sizeof(Float2));
            }
            return length;
        });
    std::vector<uint32_t> kept(count); // per vertex: its index after merging
    size_t kept_count = 0;
    for (size_t v = 0; v < count; ++v) {
        kept[v] = first[v] == v ? uint32_t(kept_count++) : kept[first[v]];
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
        if (first[v] == v) {
            const size_t to = kept[v];
            mesh.positions[to] = mesh.positions[v];
            if (normals) {
                mesh.normals[to] = mesh.normals[v];
            }
            if (uvs) {
                mesh.uvs[to] = mesh.uvs[v];
            }
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
