#include "preview/mesh/curvature.h"

#include <Eigen/Dense>

#include <algorithm>
#include <atomic>
#include <cmath>

#include "preview/mesh/neighbourhood.h"
#include "preview/mesh/parallel.h"
#include "preview/mesh/vertex_fit.h"

namespace preview {
namespace {

using Vec3 = Eigen::Vector3d;

// The largest entry of a derivative vector given.
constexpr double largest_curvature = 1e30;

// A unit vector perpendicular to the unit vector n, so that (t1, n x t1, n)
// is a right-handed orthonormal frame.
Vec3 perpendicular(const Vec3& n) {
    // Cross with the axis least aligned with n: never close to parallel.
    Vec3 axis = Vec3::UnitX();
    if (std::fabs(n.y()) < std::fabs(n.x()) && std::fabs(n.y()) <= std::fabs(n.z())) {
        axis = Vec3::UnitY();
    } else if (std::fabs(n.z()) < std::fabs(n.x())) {
        axis = Vec3::UnitZ();
    }
    return axis.cross(n).normalized();
}

Vec3 vec(Float3 p) {
    return {double(p.x), double(p.y), double(p.z)};
}

// The tensor m of a tangent plane with unit normal from, turned by the least
// rotation that takes from to the unit normal to (Rodrigues' formula); m as
// it is when the normals are more than 60 degrees apart or not unit.
Eigen::Matrix3d turned_into(const Eigen::Matrix3d& m, const Vec3& from, const Vec3& to) {
    const double c = from.dot(to);
    if (!(c > 0.5) || !(std::fabs(from.squaredNorm() - 1.0) < 1e-3)) {
        return m;
    }
    const Vec3 axis = from.cross(to);
    Eigen::Matrix3d cross;
    cross << 0.0, -axis.z(), axis.y(), axis.z(), 0.0, -axis.x(), -axis.y(), axis.x(), 0.0;
    const Eigen::Matrix3d rotation =
        Eigen::Matrix3d::Identity() + cross + cross * cross / (1.0 + c);
    return rotation * m * rotation.transpose();
}

} // namespace

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

// The blend of the corners' tensors at a hit (derivatives_at).
bool blend_corners(const CornerCurvature corners[3], const float bary[3], const Float3& normal,
                   Float3 derivs[5]) {
    Vec3 n(normal.x, normal.y, normal.z);
    const double length = n.norm();
    if (!(length > 0.0) || !std::isfinite(length)) {
        return false;
    }
    n /= length;
    // The blend of the corners' tensors: a frame-independent quantity, unlike
    // per-vertex principal directions, which flip from vertex to vertex.
    Eigen::Matrix3d tensor = Eigen::Matrix3d::Zero();
    for (int k = 0; k < 3; ++k) {
        if (!corners[k].valid) {
            return false;
        }
        const CurvatureTensor& t = corners[k].tensor;
        Eigen::Matrix3d m;
        m << t.xx, t.xy, t.xz, t.xy, t.yy, t.yz, t.xz, t.yz, t.zz;
        // An unknown (zero) normal leaves the tensor as it is.
        m = turned_into(m, vec(corners[k].normal), n);
        tensor += double(bary[k]) * m;
    }
    // Any orthonormal tangent pair of the shading normal; the second
    // fundamental form restricted to it is the tensor projected on the plane.
    const Vec3 t1 = perpendicular(n);
    const Vec3 t2 = n.cross(t1);
    const double l = t1.dot(tensor * t1), m = t1.dot(tensor * t2), nn = t2.dot(tensor * t2);
    const Vec3 out[5] = {t1, t2, l * n, nn * n, m * n};
    for (const Vec3& v : out) {
        if (!v.allFinite() || !(v.cwiseAbs().maxCoeff() < largest_curvature)) {
            return false;
        }
    }
    for (int k = 0; k < 5; ++k) {
        derivs[k] = {float(out[k].x()), float(out[k].y()), float(out[k].z())};
    }
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
