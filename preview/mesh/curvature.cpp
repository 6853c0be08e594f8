#include "preview/mesh/curvature.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "preview/mesh/neighbourhood.h"
#include "preview/mesh/parallel.h"
#include "preview/mesh/vertex_fit.h"

namespace preview {
struct OnDemandCurvature::State {
    Topology topology;
    VertexFitPlan plan;
    std::vector<CurvatureTensor> tensors; // per welded vertex
    std::vector<uint8_t> valid;           // per welded vertex
    // Per welded vertex: not fitted, claimed by the thread fitting it, fitted
    // (its tensor and validity written before, and read after, this turns).
    std::unique_ptr<std::atomic<uint8_t>[]> status;
    std::atomic<size_t> fitted{0};
};

namespace {

enum : uint8_t { not_fitted, being_fitted, done };

// The fit of one welded vertex, on this thread's fitter: its workspace
// covers the largest surface it has walked, so it serves every mesh.
bool fit_vertex(const Topology& topology, const VertexFitPlan& plan, uint32_t w,
                CurvatureTensor& tensor) {
    thread_local VertexFitter fitter;
    fitter.use(topology, plan);
    return fitter.fit(w, tensor);
}

} // namespace

OnDemandCurvature::OnDemandCurvature() = default;
OnDemandCurvature::~OnDemandCurvature() = default;
OnDemandCurvature::OnDemandCurvature(OnDemandCurvature&&) noexcept = default;
OnDemandCurvature& OnDemandCurvature::operator=(OnDemandCurvature&&) noexcept = default;

void OnDemandCurvature::prepare(const Mesh& mesh, const CurvatureSettings& settings) {
    state_ = std::make_unique<State>();
    State& state = *state_;
    if (mesh.positions.empty()) {
        return;
    }
    build_topology(mesh, state.topology, settings.threads);
    state.plan.use_normals = normals_carry_information(state.topology);
    state.plan.rings = std::min(std::max(settings.rings, 0), max_rings);
    state.topology.face_normals = {};
    const size_t count = state.topology.positions.size();
    state.tensors.assign(count, CurvatureTensor{0, 0, 0, 0, 0, 0});
    state.valid.assign(count, 0);
    state.status.reset(new std::atomic<uint8_t>[count]);
    for (size_t w = 0; w < count; ++w) {
        state.status[w].store(not_fitted, std::memory_order_relaxed);
    }
}

CornerCurvature OnDemandCurvature::corner(uint32_t vertex) const {
    const CornerCurvature none{{0, 0, 0, 0, 0, 0}, {0, 0, 0}, false};
    if (state_ == nullptr || vertex >= state_->topology.welded.size()) {
        return none;
    }
    State& state = *state_;
    const uint32_t w = state.topology.welded[vertex];
    const Float3 normal = state.topology.normals[w];
    uint8_t status = state.status[w].load(std::memory_order_acquire);
    if (status == not_fitted &&
        state.status[w].compare_exchange_strong(status, being_fitted, std::memory_order_acquire)) {
        state.valid[w] = fit_vertex(state.topology, state.plan, w, state.tensors[w]) ? 1 : 0;
        state.status[w].store(done, std::memory_order_release);
        state.fitted.fetch_add(1, std::memory_order_relaxed);
        status = done;
    }
    if (status == being_fitted) {
        // Another thread is fitting it: the same fit here, kept to this
        // call, costs less than waiting for it would risk.
        CurvatureTensor tensor{0, 0, 0, 0, 0, 0};
        const bool valid = fit_vertex(state.topology, state.plan, w, tensor);
        return {tensor, normal, valid};
    }
    return {state.tensors[w], normal, state.valid[w] != 0};
}

void OnDemandCurvature::fit_all(int threads) const {
    if (state_ == nullptr) {
        return;
    }
    const size_t count = state_->topology.positions.size();
    const std::vector<uint32_t>& welded = state_->topology.welded;
    // A mesh vertex for each welded one, to ask for it by.
    std::vector<uint32_t> copy(count, 0);
    for (size_t v = welded.size(); v-- > 0;) {
        copy[welded[v]] = uint32_t(v);
    }
    // Vertices are handed out in blocks from a shared counter.
    constexpr size_t block = 1024;
    run_chunks((count + block - 1) / block,
               [&](size_t chunk) {
                   const size_t end = std::min(count, (chunk + 1) * block);
                   for (size_t w = chunk * block; w < end; ++w) {
                       corner(copy[w]);
                   }
               },
               threads);
}

size_t OnDemandCurvature::vertices() const {
    return state_ == nullptr ? 0 : state_->topology.positions.size();
}

size_t OnDemandCurvature::fitted() const {
    return state_ == nullptr ? 0 : state_->fitted.load(std::memory_order_relaxed);
}

void OnDemandCurvature::fit_all(int threads, VertexCurvature& curvature) const {
    fit_all(threads);
    const size_t count = state_ == nullptr ? 0 : state_->topology.welded.size();
    curvature.tensors.resize(count);
    curvature.valid.resize(count);
    curvature.normals.resize(count);
    for (size_t v = 0; v < count; ++v) {
        const uint32_t w = state_->topology.welded[v];
        curvature.tensors[v] = state_->tensors[w];
        curvature.valid[v] = state_->valid[w];
        curvature.normals[v] = state_->topology.normals[w];
    }
}

void estimate_vertex_curvature(const Mesh& mesh, const CurvatureSettings& settings,
                               VertexCurvature& curvature) {
    OnDemandCurvature fits;
    fits.prepare(mesh, settings);
    fits.fit_all(settings.threads, curvature);
    // A mesh without positions has no topology, but keeps one entry each.
    curvature.tensors.resize(mesh.positions.size(), CurvatureTensor{0, 0, 0, 0, 0, 0});
    curvature.valid.resize(mesh.positions.size(), 0);
    curvature.normals.resize(mesh.positions.size(), Float3{0, 0, 0});
}

namespace {

// The largest entry of a derivative vector given.
constexpr double largest_curvature = 1e30;

// Plain three-vectors for the per-hit arithmetic below, which runs at every
// hit and texel.
struct D3 {
    double x, y, z;
};

D3 d3(Float3 p) {
    return {double(p.x), double(p.y), double(p.z)};
}

double dot(const D3& a, const D3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

D3 cross(const D3& a, const D3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// The symmetric tensor t applied to x.
D3 apply(const CurvatureTensor& t, const D3& x) {
    return {t.xx * x.x + t.xy * x.y + t.xz * x.z, t.xy * x.x + t.yy * x.y + t.yz * x.z,
            t.xz * x.x + t.yz * x.y + t.zz * x.z};
}

// A unit vector perpendicular to n (nonzero, of any length), so that
// (t1, n x t1, n) is a right-handed orthonormal frame for the unit n: n
// crossed with the axis least aligned with it, never close to parallel.
D3 tangent(const D3& n) {
    D3 t;
    if (std::fabs(n.y) < std::fabs(n.x) && std::fabs(n.y) <= std::fabs(n.z)) {
        t = {n.z, 0.0, -n.x}; // y x n
    } else if (std::fabs(n.z) < std::fabs(n.x)) {
        t = {-n.y, n.x, 0.0}; // z x n
    } else {
        t = {0.0, -n.z, n.y}; // x x n
    }
    const double inverse = 1.0 / std::sqrt(dot(t, t));
    return {t.x * inverse, t.y * inverse, t.z * inverse};
}

// The blend of the corners' tensors at a hit (derivatives_at), with shading
// normal `normal` (unit to float precision, or to be normalised); false
// where a corner has no estimate, the normal is zero or not finite, or the
// blend is not finite. Each corner's tensor M is turned by the least
// rotation R from its own tangent plane into the hit's, R M R', where its
// normal is unit and within 60 degrees of the hit's, then the tensors are
// blended and the blend is projected on a tangent pair (t1, t2).
//
// Only three numbers of the blend are needed, t' R M R' s for t and s among
// t1 and t2, and each equals (R' t)' M (R' s): the tangents are turned back
// instead of the tensors turned. By Rodrigues' formula, with f the corner's
// normal, n the hit's unit normal and c = f . n, R = I + K + K^2 / (1 + c),
// K the cross product with f x n; for a t perpendicular to n that gives
// R' t = t - (f . t) (n + f) / (1 + c).
bool blend_corners(const CornerCurvature corners[3], const float bary[3], const Float3& normal,
                   Float3 derivs[5]) {
    const D3 given = d3(normal);
    const double square = dot(given, given);
    D3 n;
    if (std::fabs(square - 1.0) < 1e-6) {
        // Unit to float precision, as a hit's normal is: one Newton step for
        // 1 / length leaves an error of the order of (square - 1)^2, below
        // double rounding, and spares a square root and a division.
        const double inverse = 1.5 - 0.5 * square;
        n = {given.x * inverse, given.y * inverse, given.z * inverse};
    } else {
        const double length = std::sqrt(square);
        if (!(length > 0.0) || !std::isfinite(length)) {
            return false;
        }
        n = {given.x / length, given.y / length, given.z / length};
    }
    // Any orthonormal tangent pair; t1 from the normal as given, which it
    // normalises itself, so that it need not wait for n.
    const D3 t1 = tangent(given);
    const D3 t2 = cross(n, t1);
    // The blend of the corners' tensors: a frame-independent quantity, unlike
    // per-vertex principal directions, which flip from vertex to vertex.
    double l = 0.0, m = 0.0, nn = 0.0;
    for (int k = 0; k < 3; ++k) {
        if (!corners[k].valid) {
            return false;
        }
        D3 a = t1, b = t2;
        // An unknown (zero) normal leaves the tensor as it is.
        const D3 f = d3(corners[k].normal);
        const double c = dot(f, n);
        if (c > 0.5 && std::fabs(dot(f, f) - 1.0) < 1e-3) {
            const double s = 1.0 / (1.0 + c);
            const D3 g{(n.x + f.x) * s, (n.y + f.y) * s, (n.z + f.z) * s};
            const double f1 = dot(f, t1), f2 = dot(f, t2);
            a = {t1.x - f1 * g.x, t1.y - f1 * g.y, t1.z - f1 * g.z};
            b = {t2.x - f2 * g.x, t2.y - f2 * g.y, t2.z - f2 * g.z};
        }
        const D3 ma = apply(corners[k].tensor, a), mb = apply(corners[k].tensor, b);
        const double w = bary[k];
        l += w * dot(a, ma);
        m += w * dot(a, mb);
        nn += w * dot(b, mb);
    }
    // t1 and t2 are unit vectors of a finite unit normal: only the second
    // derivatives can overflow or be NaN (which fails every comparison).
    const double largest = std::max(std::fabs(n.x), std::max(std::fabs(n.y), std::fabs(n.z)));
    for (double form : {l, m, nn}) {
        if (!(std::fabs(form) * largest < largest_curvature)) {
            return false;
        }
    }
    derivs[0] = {float(t1.x), float(t1.y), float(t1.z)};
    derivs[1] = {float(t2.x), float(t2.y), float(t2.z)};
    derivs[2] = {float(l * n.x), float(l * n.y), float(l * n.z)};
    derivs[3] = {float(nn * n.x), float(nn * n.y), float(nn * n.z)};
    derivs[4] = {float(m * n.x), float(m * n.y), float(m * n.z)};
    return true;
}

} // namespace

bool derivatives_at(const VertexCurvature& curvature, const uint32_t corner[3], const float bary[3],
                    const Float3& normal, Float3 derivs[5]) {
    const bool with_normals = curvature.normals.size() == curvature.tensors.size();
    CornerCurvature corners[3];
    for (int k = 0; k < 3; ++k) {
        const size_t v = corner[k];
        const bool known = v < curvature.valid.size() && v < curvature.tensors.size();
        corners[k] = {known ? curvature.tensors[v] : CurvatureTensor{0, 0, 0, 0, 0, 0},
                      known && with_normals ? curvature.normals[v] : Float3{0, 0, 0},
                      known && curvature.valid[v] != 0};
    }
    return blend_corners(corners, bary, normal, derivs);
}

bool derivatives_at(const OnDemandCurvature& curvature, const uint32_t corner[3],
                    const float bary[3], const Float3& normal, Float3 derivs[5]) {
    const CornerCurvature corners[3] = {curvature.corner(corner[0]), curvature.corner(corner[1]),
                                        curvature.corner(corner[2])};
    return blend_corners(corners, bary, normal, derivs);
}

} // namespace preview
