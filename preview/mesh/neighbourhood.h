// The welded surface a mesh samples, as the curvature fit walks it: one
// vertex per distinct position, its neighbours along triangle edges, its
// outward normal, and the rings of edges around a vertex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "preview/mesh/mesh.h"

namespace preview {

struct Topology {
    std::vector<uint32_t> welded;  // per mesh vertex: its welded vertex
    std::vector<Float3> positions; // per welded vertex
    std::vector<uint32_t> first;   // row starts, one more than welded vertices
    std::vector<uint32_t> neighbours;
    std::vector<Float3> normals; // per welded vertex; zero where none is usable
    // For a sample of the welded vertices, every face_sample_step-th from
    // 0, the area-weighted unit normal of its faces (zero where they
    // cancel), to tell whether the normals above carry anything beyond the
    // triangles: face_normals[v / step] for vertex v.
    std::vector<Float3> face_normals;
    size_t face_sample_step = 1;
};

// Every how many welded vertices one is sampled for face_normals: about
// 2000 in all, which tell the normals' kind as well as all would.
inline size_t face_sample_step(size_t welded_count) {
    return welded_count / 2000 > 1 ? welded_count / 2000 : 1;
}

// Welds the mesh by position (taking prepare_mesh's weld where the mesh
// still has it), gathers each welded vertex's neighbours in a compressed row
// (sorted, no repeats) and its normal: the mean of its copies' normals, or
// the area-weighted normal of its faces where those cancel. Triangles that
// collapse when welded add no edges. The rows are built on `threads` threads
// (0: every core); the result does not depend on how many.
void build_topology(const Mesh& mesh, Topology& topology, int threads = 0);

// The vertices within some rings of edges of a vertex, ring by ring.
class RingWalk {
  public:
    explicit RingWalk(size_t welded_count) : mark_(welded_count, UINT32_MAX) {}

    // Makes room for walks on a surface of this many welded vertices (a walk
    // leaves no mark behind once the next starts, so one walk serves any
    // number of surfaces).
    void cover(size_t welded_count) {
        if (mark_.size() < welded_count) {
            mark_.resize(welded_count, UINT32_MAX);
        }
    }

    // Starts afresh at vertex: ring 0 is the vertex alone.
    void start(uint32_t vertex);
    // Adds the next ring; false when it adds no vertex (the neighbourhood
    // stopped growing).
    bool grow(const Topology& topology);

    int rings() const { return int(ring_end_.size()) - 1; }
    const std::vector<uint32_t>& vertices() const { return gathered_; }
    // One past the last vertex of ring r (0 <= r <= rings()).
    size_t ring_end(int r) const { return ring_end_[size_t(r)]; }

  private:
    std::vector<uint32_t> mark_; // per welded vertex: the last vertex that gathered it
    std::vector<uint32_t> gathered_;
    std::vector<size_t> ring_end_;
    uint32_t vertex_ = 0;
};

} // namespace preview
