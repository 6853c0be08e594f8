#include "preview/mesh_weld.h"

#include <cmath>
#include <cstring>
#include <unordered_map>

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
    std::vector<uint32_t> representative(positions.size());
    std::unordered_map<Key, uint32_t, KeyHash> first;
    first.reserve(positions.size());
    for (size_t v = 0; v < positions.size(); ++v) {
        const Float3 p = positions[v];
        representative[v] = uint32_t(v);
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            continue;
        }
        const Key key{{bits_of(p.x), bits_of(p.y), bits_of(p.z)}};
        const auto inserted = first.emplace(key, uint32_t(v));
        representative[v] = inserted.first->second;
    }
    return representative;
}

} // namespace preview
