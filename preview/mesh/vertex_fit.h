// The curvature tensor at one welded vertex, from height fields fitted to
// its neighbourhood on the welded surface (neighbourhood.h): jets of the
// positions alone (jet_fit.h), or, where the normals carry information,
// fields through the vertex that also match the neighbours' slopes
// (pinned_fit.h).
#pragma once

#include <cstdint>
#include <vector>

#include "preview/mesh/curvature.h"
#include "preview/mesh/neighbourhood.h"
#include "preview/mesh/pinned_fit.h"
#include "preview/mesh/tangent_frame.h"

namespace preview {

struct VertexFitPlan {
    // True when the normals carry information beyond the triangles (see
    // normals_carry_information): the fits then also match their slopes.
    bool use_normals = true;
    // 0: the neighbourhood is chosen per vertex; 1 to max_rings: every fit
    // spans that many rings (widened only where it fails).
    int rings = 0;
};

// Whether the mesh's normals say more about the surface than its triangles
// do: false when they are the triangles' own area-weighted normals (as
// prepare_mesh makes them for a file without normals), or when they sit as
// far from the surface the positions describe as those would.
bool normals_carry_information(const Topology& topology);

// Fits vertex after vertex; one per thread, since it keeps its workspace.
class VertexFitter {
  public:
    VertexFitter() : walk_(0) {}
    VertexFitter(const Topology& topology, const VertexFitPlan& plan) : walk_(0) {
        use(topology, plan);
    }
    // Fits on this surface from now on: one fitter a thread serves every
    // mesh, its workspace growing to the largest.
    void use(const Topology& topology, const VertexFitPlan& plan) {
        topology_ = &topology;
        plan_ = plan;
        walk_.cover(topology.positions.size());
    }
    const Topology* surface() const { return topology_; }

    // Estimates the tensor at a welded vertex; false (tensor untouched)
    // where no usable fit exists even after widening: an isolated vertex, a
    // collapsed fan, a vertex without a usable normal, or a neighbourhood
    // that stops growing before the points determine a fit.
    bool fit(uint32_t vertex, CurvatureTensor& tensor);

  private:
    bool fit_in_frame(uint32_t vertex, const TangentFrame& frame, double world[3][3],
                      double normal[3]);
    bool fit_pinned(const TangentFrame& frame, double world[3][3], double normal[3]);
    bool fit_positions(const TangentFrame& frame, double world[3][3], double normal[3]);

    const Topology* topology_ = nullptr;
    VertexFitPlan plan_;
    RingWalk walk_;
    std::vector<PinnedPoint> ring_; // the first ring, in the tangent frame
};

} // namespace preview
