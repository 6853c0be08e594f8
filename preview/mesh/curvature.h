// Surface derivatives for triangle meshes, as a renderer supplies them for a
// mesh that carries per-vertex derivative vectors.
//
// A mesh samples a smooth surface. At every vertex we estimate that surface's
// curvature (its second fundamental form, as a symmetric tensor in world
// coordinates), and at a hit we blend the three vertex tensors by the hit's
// barycentric weights and hand the shader the derivatives of a local
// parametrisation whose curvature is the blend. Pure functions: no Embree, no
// files, so that tests and fuzzing can take them alone.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "preview/mesh/mesh.h"

namespace preview {

// The second fundamental form at a vertex, in world coordinates: for unit
// tangent vectors a and b, II(a, b) = a' T b, measured along the vertex's
// outward normal (a sphere of radius r gives -1/r in every tangent
// direction, the shader's sign convention). Symmetric: six entries.
struct CurvatureTensor {
    float xx, xy, xz, yy, yz, zz;
};

// The widest neighbourhood a fit is asked for: the work per vertex grows with
// the square of the rings.
constexpr int max_rings = 8;

struct CurvatureSettings {
    // Neighbourhood of each vertex's fit, in rings of edges. 0 (the default)
    // chooses it per vertex: where the normals carry information (a
    // tessellation's exact normals, a file's own), a narrow fit over one ring
    // where the mesh is coarse and one over two rings where it is fine;
    // where they are the triangles' own (a file without normals, a scan),
    // two rings where the mesh is coarse and four where it is fine, which
    // averages out a scan's noise. 1 to max_rings: every fit spans that many
    // rings, its weights widening with them, so more rings smooth more.
    // Either way a fit the points do not determine is widened until they do.
    int rings = 0;
    int threads = 0; // 0: every core
};

struct VertexCurvature {
    std::vector<CurvatureTensor> tensors; // one per mesh vertex
    std::vector<uint8_t> valid;           // 0 where no estimate could be made
    // The unit normal of each tensor's tangent plane (the welded vertex's
    // normal); empty when unknown.
    std::vector<Float3> normals;
};

// Estimates the tensor at every vertex of a prepared mesh (unit normals, one
// per vertex, pointing outward). Split vertices are welded by position first.
// Never produces a NaN: a vertex without a usable fit is marked invalid.
void estimate_vertex_curvature(const Mesh& mesh, const CurvatureSettings& settings,
                               VertexCurvature& curvature);

// The estimate at one vertex, as a hit's blend reads it.
struct CornerCurvature {
    CurvatureTensor tensor;
    Float3 normal; // unit normal of the tensor's tangent plane; zero when unknown
    bool valid;
};

// Vertex curvature fitted when a hit first needs it rather than all at once:
// a ray cast image of a big scan touches a small share of its vertices (a
// 640 x 480 image of ten million triangles, about one vertex in twenty), and
// the fits are most of the time a mesh costs before its first image. Each
// vertex's fit reads only the welded surface around it, so the estimate is
// the same bit for bit whenever, and on whichever thread, it is made.
// prepare() runs on one thread; corner() may then be called from any number
// of threads at once.
class OnDemandCurvature {
  public:
    OnDemandCurvature();
    ~OnDemandCurvature();
    OnDemandCurvature(OnDemandCurvature&&) noexcept;
    OnDemandCurvature& operator=(OnDemandCurvature&&) noexcept;

    // Welds the mesh and gathers what the fits read (estimate_vertex_curvature
    // describes the mesh it takes); fits no vertex yet.
    void prepare(const Mesh& mesh, const CurvatureSettings& settings);
    bool prepared() const { return state_ != nullptr; }
    // The estimate at mesh vertex `vertex`, fitted now when no thread has
    // fitted it yet. An unprepared record, or a vertex out of range, gives
    // an invalid corner.
    CornerCurvature corner(uint32_t vertex) const;
    // Fits every vertex not fitted yet, on `threads` threads (0: every core).
    void fit_all(int threads = 0) const;
    // The same, then every mesh vertex's estimate, as estimate_vertex_curvature
    // gives it.
    void fit_all(int threads, VertexCurvature& curvature) const;
    // Welded vertices, and how many of them have been fitted so far.
    size_t vertices() const;
    size_t fitted() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The five derivative vectors (dP/du, dP/dv, d2P/du2, d2P/dv2, d2P/dudv) at
// a hit on the triangle with vertices corner[0..2], weights bary and unit
// shading normal. Each corner's tensor is first turned, by the least
// rotation, from its own tangent plane into the hit's (where its normal is
// known and within 60 degrees of the hit's), so that the blend keeps the
// size of the curvature where the normal turns across a coarse triangle;
// then the tensors are blended by the weights. False, leaving derivs
// untouched, when a corner has no valid estimate or the blend is not
// finite.
bool derivatives_at(const VertexCurvature& curvature, const uint32_t corner[3], const float bary[3],
                    const Float3& normal, Float3 derivs[5]);
// The same, the corners' estimates fitted on demand.
bool derivatives_at(const OnDemandCurvature& curvature, const uint32_t corner[3],
                    const float bary[3], const Float3& normal, Float3 derivs[5]);

} // namespace preview
