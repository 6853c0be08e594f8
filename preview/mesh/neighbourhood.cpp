#include "preview/mesh/neighbourhood.h"

#include <algorithm>
#include <cmath>

#include "preview/mesh/weld.h"

namespace preview {
namespace {

struct Sum {
    double x = 0.0, y = 0.0, z = 0.0;
    void add(double ax, double ay, double az) { x += ax, y += ay, z += az; }
    double length() const { return std::sqrt(x * x + y * y + z * z); }
};

Float3 unit_or_zero(const Sum& s) {
    const double length = s.length();
    if (!(length > 0.0) || !std::isfinite(length)) {
        return {0.0f, 0.0f, 0.0f};
    }
    return {float(s.x / length), float(s.y / length), float(s.z / length)};
}

// The welded corners of triangle t; false when two coincide (a triangle that
// collapses when welded has no edges of its own).
bool welded_corners(const Mesh& mesh, const Topology& topology, size_t t, uint32_t w[3]) {
    for (size_t k = 0; k < 3; ++k) {
        w[k] = topology.welded[mesh.triangles[3 * t + k]];
    }
    return w[0] != w[1] && w[1] != w[2] && w[2] != w[0];
}

void weld(const Mesh& mesh, Topology& topology) {
    const std::vector<uint32_t> representative = weld_positions(mesh.positions);
    const size_t count = mesh.positions.size();
    topology.welded.assign(count, 0);
    topology.positions.clear();
    for (size_t v = 0; v < count; ++v) {
        if (representative[v] == v) {
            topology.welded[v] = uint32_t(topology.positions.size());
            topology.positions.push_back(mesh.positions[v]);
        } else {
            topology.welded[v] = topology.welded[representative[v]];
        }
    }
}

// Normals: the mean of the copies' own normals (they differ across a hard
// edge); where those cancel, the area-weighted normal of the faces. Also
// counts each welded vertex's edge ends into degree.
void sum_normals(const Mesh& mesh, Topology& topology, std::vector<uint32_t>& degree) {
    const size_t welded_count = topology.positions.size();
    std::vector<Sum> given(welded_count), faces(welded_count);
    if (mesh.normals.size() == mesh.positions.size()) {
        for (size_t v = 0; v < mesh.normals.size(); ++v) {
            const Float3 n = mesh.normals[v];
            if (std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) {
                given[topology.welded[v]].add(n.x, n.y, n.z);
            }
        }
    }
    degree.assign(welded_count + 1, 0);
    for (size_t t = 0; t < mesh.triangles.size() / 3; ++t) {
        uint32_t w[3];
        if (!welded_corners(mesh, topology, t, w)) {
            continue;
        }
        const Float3 a = topology.positions[w[0]], b = topology.positions[w[1]],
                     c = topology.positions[w[2]];
        const double e1x = double(b.x) - a.x, e1y = double(b.y) - a.y, e1z = double(b.z) - a.z;
        const double e2x = double(c.x) - a.x, e2y = double(c.y) - a.y, e2z = double(c.z) - a.z;
        const double nx = e1y * e2z - e1z * e2y, ny = e1z * e2x - e1x * e2z,
                     nz = e1x * e2y - e1y * e2x;
        for (int k = 0; k < 3; ++k) {
            degree[w[k]] += 2;
            faces[w[k]].add(nx, ny, nz);
        }
    }
    topology.normals.resize(welded_count);
    topology.face_normals.resize(welded_count);
    for (size_t w = 0; w < welded_count; ++w) {
        topology.face_normals[w] = unit_or_zero(faces[w]);
        topology.normals[w] =
            given[w].length() > 1e-3 ? unit_or_zero(given[w]) : unit_or_zero(faces[w]);
    }
}

} // namespace

void build_topology(const Mesh& mesh, Topology& topology) {
    weld(mesh, topology);
    const size_t welded_count = topology.positions.size();
    std::vector<uint32_t> degree;
    sum_normals(mesh, topology, degree);

    // Compressed rows: every triangle names each corner's two others, then
    // each row is sorted and its repeats dropped.
    topology.first.assign(welded_count + 1, 0);
    for (size_t w = 0; w < welded_count; ++w) {
        topology.first[w + 1] = topology.first[w] + degree[w];
    }
    topology.neighbours.assign(topology.first[welded_count], 0);
    std::vector<uint32_t>& fill = degree; // reused as each row's fill count
    std::fill(fill.begin(), fill.end(), 0u);
    for (size_t t = 0; t < mesh.triangles.size() / 3; ++t) {
        uint32_t w[3];
        if (!welded_corners(mesh, topology, t, w)) {
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            uint32_t* row = &topology.neighbours[topology.first[w[k]]];
            row[fill[w[k]]++] = w[(k + 1) % 3];
            row[fill[w[k]]++] = w[(k + 2) % 3];
        }
    }
    uint32_t out = 0;
    for (size_t w = 0; w < welded_count; ++w) {
        uint32_t* begin = topology.neighbours.data() + topology.first[w];
        uint32_t* end = topology.neighbours.data() + topology.first[w + 1];
        std::sort(begin, end);
        end = std::unique(begin, end);
        topology.first[w] = out;
        for (uint32_t* p = begin; p != end; ++p) {
            topology.neighbours[out++] = *p;
        }
    }
    topology.first[welded_count] = out;
    topology.neighbours.resize(out);
    topology.neighbours.shrink_to_fit();
}

void RingWalk::start(uint32_t vertex) {
    // Unmark the last walk, which may have started at the same vertex.
    for (uint32_t v : gathered_) {
        mark_[v] = UINT32_MAX;
    }
    vertex_ = vertex;
    gathered_.clear();
    gathered_.push_back(vertex);
    mark_[vertex] = vertex;
    ring_end_.assign(1, 1);
}

bool RingWalk::grow(const Topology& topology) {
    const size_t begin = ring_end_.size() >= 2 ? ring_end_[ring_end_.size() - 2] : 0;
    const size_t end = ring_end_.back();
    for (size_t i = begin; i < end; ++i) {
        const uint32_t v = gathered_[i];
        for (uint32_t k = topology.first[v]; k < topology.first[v + 1]; ++k) {
            const uint32_t q = topology.neighbours[k];
            if (mark_[q] != vertex_) {
                mark_[q] = vertex_;
                gathered_.push_back(q);
            }
        }
    }
    ring_end_.push_back(gathered_.size());
    return gathered_.size() > end;
}

} // namespace preview
