#include "preview/mesh/neighbourhood.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "preview/mesh/parallel.h"
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

// The weld prepare_mesh left in the mesh, when it still fits the positions:
// one entry per vertex, each naming an earlier or the same vertex, one that
// names itself, at the same position bit for bit.
bool prepared_weld_fits(const Mesh& mesh) {
    const size_t count = mesh.positions.size();
    if (mesh.welded.size() != count) {
        return false;
    }
    for (size_t v = 0; v < count; ++v) {
        const uint32_t r = mesh.welded[v];
        if (r > v || mesh.welded[r] != r ||
            std::memcmp(&mesh.positions[r], &mesh.positions[v], sizeof(Float3)) != 0) {
            return false;
        }
    }
    return true;
}

void weld(const Mesh& mesh, Topology& topology) {
    std::vector<uint32_t> computed;
    if (!prepared_weld_fits(mesh)) {
        computed = weld_positions(mesh.positions);
    }
    const std::vector<uint32_t>& representative = computed.empty() ? mesh.welded : computed;
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

// The mean of each welded vertex's copies' own normals (they differ across a
// hard edge); zero where the mesh has none.
std::vector<Sum> given_normals(const Mesh& mesh, const Topology& topology) {
    std::vector<Sum> given(topology.positions.size());
    if (mesh.normals.size() == mesh.positions.size()) {
        for (size_t v = 0; v < mesh.normals.size(); ++v) {
            const Float3 n = mesh.normals[v];
            if (std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) {
                given[topology.welded[v]].add(n.x, n.y, n.z);
            }
        }
    }
    return given;
}

// Every triangle's two other corners into each corner's row, in triangle
// order: rows as long as twice the triangles around the vertex.
void fill_rows(const Mesh& mesh, Topology& topology) {
    const size_t welded_count = topology.positions.size();
    std::vector<uint32_t> fill(welded_count + 1, 0);
    for (size_t t = 0; t < mesh.triangles.size() / 3; ++t) {
        uint32_t w[3];
        if (welded_corners(mesh, topology, t, w)) {
            fill[w[0]] += 2, fill[w[1]] += 2, fill[w[2]] += 2;
        }
    }
    topology.first.assign(welded_count + 1, 0);
    for (size_t w = 0; w < welded_count; ++w) {
        topology.first[w + 1] = topology.first[w] + fill[w];
    }
    topology.neighbours.assign(topology.first[welded_count], 0);
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
}

// Sorts a row and drops its repeats; returns how many are left. Rows are
// short (twice the triangles around a vertex), where insertion beats a
// general sort.
uint32_t sort_unique(uint32_t* begin, uint32_t* end) {
    if (end - begin > 64) {
        std::sort(begin, end);
        return uint32_t(std::unique(begin, end) - begin);
    }
    uint32_t* out = begin; // [begin, out) sorted, no repeats
    for (uint32_t* p = begin; p != end; ++p) {
        const uint32_t value = *p;
        uint32_t* at = out;
        while (at != begin && at[-1] > value) {
            --at;
        }
        if (at != begin && at[-1] == value) {
            continue;
        }
        std::memmove(at + 1, at, size_t(out - at) * sizeof(uint32_t));
        *at = value;
        ++out;
    }
    return uint32_t(out - begin);
}

// A welded vertex's normals from its row, which still holds its triangles'
// far edges (the faces' normal only where it is sampled or the given
// normals cancel); then the row sorted without repeats. Returns its new
// length.
uint32_t finish_row(Topology& topology, const Sum& given, size_t w) {
    uint32_t* begin = topology.neighbours.data() + topology.first[w];
    uint32_t* end = topology.neighbours.data() + topology.first[w + 1];
    const bool sampled = w % topology.face_sample_step == 0;
    const bool given_usable = given.length() > 1e-3;
    if (sampled || !given_usable) {
        const Float3 a = topology.positions[w];
        Sum faces;
        for (const uint32_t* e = begin; e != end; e += 2) {
            const Float3 b = topology.positions[e[0]], c = topology.positions[e[1]];
            const double e1x = double(b.x) - a.x, e1y = double(b.y) - a.y, e1z = double(b.z) - a.z;
            const double e2x = double(c.x) - a.x, e2y = double(c.y) - a.y, e2z = double(c.z) - a.z;
            faces.add(e1y * e2z - e1z * e2y, e1z * e2x - e1x * e2z, e1x * e2y - e1y * e2x);
        }
        if (sampled) {
            topology.face_normals[w / topology.face_sample_step] = unit_or_zero(faces);
        }
        if (!given_usable) {
            topology.normals[w] = unit_or_zero(faces);
        }
    }
    if (given_usable) {
        topology.normals[w] = unit_or_zero(given);
    }
    return sort_unique(begin, end);
}

// The given normal of welded vertex w when each has one copy (w is then
// the mesh vertex): the sums given_normals would hold, without their array.
Sum single_given(const Mesh& mesh, size_t w) {
    Sum given;
    if (mesh.normals.size() == mesh.positions.size()) {
        const Float3 n = mesh.normals[w];
        if (std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z)) {
            given.add(n.x, n.y, n.z);
        }
    }
    return given;
}

} // namespace

void build_topology(const Mesh& mesh, Topology& topology, int threads) {
    weld(mesh, topology);
    const size_t welded_count = topology.positions.size();
    // A big scan's vertices are rarely split: then each welded vertex's
    // normal is its one copy's, and the sums need no array of their own.
    const bool one_copy_each = welded_count == mesh.positions.size();
    const std::vector<Sum> given =
        one_copy_each ? std::vector<Sum>() : given_normals(mesh, topology);
    fill_rows(mesh, topology);

    // Each row still holds its triangles' far edges in triangle order, so a
    // vertex sums its faces' normals from its own row (in the same order on
    // any number of threads), then sorts the row and drops its repeats.
    topology.normals.resize(welded_count);
    topology.face_sample_step = face_sample_step(welded_count);
    topology.face_normals.resize((welded_count + topology.face_sample_step - 1) /
                                 topology.face_sample_step);
    std::vector<uint32_t> kept(welded_count, 0);
    constexpr size_t block = 4096;
    run_chunks((welded_count + block - 1) / block,
               [&](size_t chunk) {
                   const size_t end = std::min(welded_count, (chunk + 1) * block);
                   for (size_t w = chunk * block; w < end; ++w) {
                       kept[w] = finish_row(topology,
                                            one_copy_each ? single_given(mesh, w) : given[w], w);
                   }
               },
               threads);
    // Close the gaps the repeats left.
    uint32_t out = 0;
    for (size_t w = 0; w < welded_count; ++w) {
        const uint32_t from = topology.first[w];
        topology.first[w] = out;
        std::memmove(topology.neighbours.data() + out, topology.neighbours.data() + from,
                     kept[w] * sizeof(uint32_t));
        out += kept[w];
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
