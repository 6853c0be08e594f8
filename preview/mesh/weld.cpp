#include "preview/mesh/weld.h"

#include <algorithm>
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
// By sorting rather than by a hash table: the items' hashes (computed on
// every core) are sorted with their indices by a radix sort, which walks
// memory in order where a table of millions of entries misses the cache at
// nearly every probe; equal keys then stand side by side, in the order of
// their items (the sort is stable), and the first of each run of equals is
// the item the others take.
template <class Key> std::vector<uint32_t> first_equals(size_t count, Key key) {
    std::vector<uint32_t> first(count);
    // Hash (high 32 bits) and item (low 32 bits).
    std::vector<uint64_t> order(count), spare(count);
    constexpr size_t block = size_t(1) << 16;
    run_chunks((count + block - 1) / block, [&](size_t chunk) {
        uint32_t words[8];
        const size_t end = std::min(count, (chunk + 1) * block);
        for (size_t v = chunk * block; v < end; ++v) {
            const size_t length = key(v, words);
            // An item that equals nothing sorts with hash 0 and is left alone.
            const uint64_t h = length == 0 ? 0 : (hash_words(words, length) >> 32) | 1;
            order[v] = (h << 32) | v;
        }
    });
    // Three passes of eleven bits sort by the 32 bits of the hash.
    for (int shift = 32; shift < 64; shift += 11) {
        size_t start[2049] = {};
        for (uint64_t entry : order) {
            ++start[((entry >> shift) & 2047) + 1];
        }
        for (size_t digit = 1; digit <= 2048; ++digit) {
            start[digit] += start[digit - 1];
        }
        for (uint64_t entry : order) {
            spare[start[(entry >> shift) & 2047]++] = entry;
        }
        order.swap(spare);
    }
    spare = {};
    uint32_t words[8], other[8];
    for (size_t i = 0; i < count;) {
        size_t run_end = i + 1;
        while (run_end < count && (order[run_end] >> 32) == (order[i] >> 32)) {
            ++run_end;
        }
        if (run_end == i + 1) { // a hash of its own: no key to compare
            first[uint32_t(order[i])] = uint32_t(order[i]);
            i = run_end;
            continue;
        }
        // Within a run of one hash (nearly always one key), each item takes
        // the first item before it with an equal key.
        for (size_t a = i; a < run_end; ++a) {
            const uint32_t item = uint32_t(order[a]);
            first[item] = item;
            const size_t length = key(item, words);
            for (size_t b = i; b < a && length > 0; ++b) {
                const uint32_t earlier = uint32_t(order[b]);
                if (first[earlier] == earlier && key(earlier, other) == length &&
                    std::memcmp(words, other, 4 * length) == 0) {
                    first[item] = earlier;
                    break;
                }
            }
        }
        i = run_end;
    }
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
