#include "preview/mesh/curvature.h"

#include <Eigen/Dense>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "preview/mesh/neighbourhood.h"
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

void estimate_vertex_curvature(const Mesh& mesh, const CurvatureSettings& settings,
                               VertexCurvature& curvature) {
    const size_t count = mesh.positions.size();
    curvature.tensors.assign(count, CurvatureTensor{0, 0, 0, 0, 0, 0});
    curvature.valid.assign(count, 0);
    curvature.normals.clear();
    if (count == 0) {
        return;
    }
    Topology topology;
    build_topology(mesh, topology, settings.threads);
    const size_t welded_count = topology.positions.size();
    VertexFitPlan plan;
    plan.use_normals = normals_carry_information(topology);
    plan.rings = std::min(std::max(settings.rings, 0), max_rings);
    topology.face_normals = {};
    std::vector<CurvatureTensor> tensors(welded_count, CurvatureTensor{0, 0, 0, 0, 0, 0});
    std::vector<uint8_t> valid(welded_count, 0);

    // Vertices are handed out in blocks from a shared counter; each one is
    // written by exactly one thread.
    constexpr size_t block = 1024;
    std::atomic<size_t> next{0};
    auto work = [&]() {
        VertexFitter fitter(topology, plan);
        for (;;) {
            const size_t begin = next.fetch_add(block);
            if (begin >= welded_count) {
                return;
            }
            const size_t end = std::min(welded_count, begin + block);
            for (size_t w = begin; w < end; ++w) {
                valid[w] = fitter.fit(uint32_t(w), tensors[w]) ? 1 : 0;
            }
        }
    };
    unsigned threads = settings.threads > 0 ? unsigned(settings.threads)
                                            : std::max(1u, std::thread::hardware_concurrency());
    threads = unsigned(std::min<size_t>(threads, (welded_count + block - 1) / block));
    std::vector<std::thread> pool;
    for (unsigned k = 1; k < threads; ++k) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& thread : pool) {
        thread.join();
    }
    curvature.normals.resize(count);
    for (size_t v = 0; v < count; ++v) {
        const uint32_t w = topology.welded[v];
        curvature.tensors[v] = tensors[w];
        curvature.valid[v] = valid[w];
        curvature.normals[v] = topology.normals[w];
    }
}

bool derivatives_at(const VertexCurvature& curvature, const uint32_t corner[3], const float bary[3],
                    const Float3& normal, Float3 derivs[5]) {
    Vec3 n(normal.x, normal.y, normal.z);
    const double length = n.norm();
    if (!(length > 0.0) || !std::isfinite(length)) {
        return false;
    }
    n /= length;
    // The blend of the corners' tensors: a frame-independent quantity, unlike
    // per-vertex principal directions, which flip from vertex to vertex.
    Eigen::Matrix3d tensor = Eigen::Matrix3d::Zero();
    const bool turn = curvature.normals.size() == curvature.tensors.size();
    for (int k = 0; k < 3; ++k) {
        const size_t v = corner[k];
        if (v >= curvature.valid.size() || curvature.valid[v] == 0) {
            return false;
        }
        const CurvatureTensor& t = curvature.tensors[v];
        Eigen::Matrix3d m;
        m << t.xx, t.xy, t.xz, t.xy, t.yy, t.yz, t.xz, t.yz, t.zz;
        if (turn) {
            m = turned_into(m, vec(curvature.normals[v]), n);
        }
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

} // namespace preview
