#include "preview/mesh/curvature.h"

#include <Eigen/Dense>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "preview/mesh/weld.h"

namespace preview {
namespace {

using Vec3 = Eigen::Vector3d;

Vec3 vec(Float3 p) {
    return {double(p.x), double(p.y), double(p.z)};
}

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

// The welded surface: one vertex per distinct position, its neighbours along
// triangle edges in compressed rows, and its outward normal.
struct Topology {
    std::vector<uint32_t> welded;  // per mesh vertex: its welded vertex
    std::vector<Float3> positions; // per welded vertex
    std::vector<uint32_t> first;   // row starts, one more than welded vertices
    std::vector<uint32_t> neighbours;
    std::vector<Float3> normals; // per welded vertex; zero where none is usable
};

void build_topology(const Mesh& mesh, Topology& topology) {
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
    const size_t welded_count = topology.positions.size();

    // Normals: the mean of the copies' own normals (they differ across a hard
    // edge); where those cancel, the area-weighted normal of the faces.
    std::vector<Vec3> sum(welded_count, Vec3::Zero());
    const bool has_normals = mesh.normals.size() == count;
    for (size_t v = 0; v < count && has_normals; ++v) {
        const Vec3 n = vec(mesh.normals[v]);
        if (n.allFinite()) {
            sum[topology.welded[v]] += n;
        }
    }
    std::vector<uint32_t> degree(welded_count + 1, 0);
    const size_t triangles = mesh.triangles.size() / 3;
    std::vector<Vec3> faces(welded_count, Vec3::Zero());
    for (size_t t = 0; t < triangles; ++t) {
        uint32_t w[3];
        for (int k = 0; k < 3; ++k) {
            w[k] = topology.welded[mesh.triangles[3 * t + size_t(k)]];
        }
        if (w[0] == w[1] || w[1] == w[2] || w[2] == w[0]) {
            continue; // collapsed: no edges of its own
        }
        const Vec3 a = vec(topology.positions[w[0]]);
        const Vec3 area =
            (vec(topology.positions[w[1]]) - a).cross(vec(topology.positions[w[2]]) - a);
        for (int k = 0; k < 3; ++k) {
            degree[w[k]] += 2;
            faces[w[k]] += area;
        }
    }
    topology.normals.assign(welded_count, Float3{0.0f, 0.0f, 0.0f});
    for (size_t w = 0; w < welded_count; ++w) {
        Vec3 n = sum[w].norm() > 1e-3 ? sum[w] : faces[w];
        const double length = n.norm();
        if (length > 0.0 && std::isfinite(length)) {
            n /= length;
            topology.normals[w] = {float(n.x()), float(n.y()), float(n.z())};
        }
    }
    sum = {};
    faces = {};

    // Compressed rows: every triangle names each corner's two others, then
    // each row is sorted and its repeats dropped.
    topology.first.assign(welded_count + 1, 0);
    for (size_t w = 0; w < welded_count; ++w) {
        topology.first[w + 1] = topology.first[w] + degree[w];
    }
    topology.neighbours.assign(topology.first[welded_count], 0);
    std::vector<uint32_t>& fill = degree; // reused as each row's fill count
    std::fill(fill.begin(), fill.end(), 0u);
    for (size_t t = 0; t < triangles; ++t) {
        uint32_t w[3];
        for (int k = 0; k < 3; ++k) {
            w[k] = topology.welded[mesh.triangles[3 * t + size_t(k)]];
        }
        if (w[0] == w[1] || w[1] == w[2] || w[2] == w[0]) {
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

// Unknowns of the quadric z = c0 + c1 x + c2 y + c3 x^2 + c4 x y + c5 y^2.
constexpr int unknowns = 6;
// The fewest points a fit takes: one more than its unknowns, so that a fit
// is never a bare interpolation.
constexpr size_t fewest_points = unknowns + 1;
// How far the neighbourhood may widen past the rings asked for.
constexpr int extra_rings = 3;
// Below this ratio of the smallest to the largest pivot of the scaled normal
// equations the points do not pin the quadric down (collinear, or all in
// one spot).
constexpr double smallest_pivot = 1e-9;

// The largest entry of a tensor kept, and of a derivative vector given.
constexpr double largest_curvature = 1e30;

// What one thread keeps between vertices.
struct Workspace {
    std::vector<uint32_t> mark; // per welded vertex: the last vertex that gathered it
    std::vector<uint32_t> gathered;
    std::vector<Vec3> offsets; // of the gathered points that face the vertex's way
    explicit Workspace(size_t count) : mark(count, UINT32_MAX) {}
};

// Gathers the vertex and its neighbours within `rings` edges into
// work.gathered, ring by ring, continuing from `rings_done` rings already
// gathered (0 to start afresh); ring_start is where the last ring begins.
void gather(const Topology& topology, uint32_t vertex, int rings_done, int rings, Workspace& work,
            size_t& ring_start) {
    if (rings_done == 0) {
        work.gathered.clear();
        work.gathered.push_back(vertex);
        work.mark[vertex] = vertex;
        ring_start = 0;
    }
    for (int ring = rings_done; ring < rings; ++ring) {
        const size_t end = work.gathered.size();
        for (size_t i = ring_start; i < end; ++i) {
            const uint32_t v = work.gathered[i];
            for (uint32_t k = topology.first[v]; k < topology.first[v + 1]; ++k) {
                const uint32_t q = topology.neighbours[k];
                if (work.mark[q] != vertex) {
                    work.mark[q] = vertex;
                    work.gathered.push_back(q);
                }
            }
        }
        ring_start = end;
    }
}

// Least-squares quadric over the gathered points as a height field over the
// tangent plane of normal n; converts it to the world tensor. False when the
// points are too few or do not determine the fit.
bool fit(const Topology& topology, Workspace& work, const Vec3& centre, const Vec3& n,
         double spread, CurvatureTensor& tensor, Vec3& fitted_normal) {
    const Vec3 t1 = perpendicular(n);
    const Vec3 t2 = n.cross(t1);
    // Coordinates scaled by the neighbourhood's size, so that the normal
    // equations are well conditioned whatever the mesh's units.
    double radius = 0.0;
    work.offsets.clear();
    for (uint32_t q : work.gathered) {
        // A neighbour facing away is across a fold or a thin sheet, not on
        // the height field around this vertex.
        if (vec(topology.normals[q]).dot(n) <= 0.0) {
            continue;
        }
        work.offsets.push_back(vec(topology.positions[q]) - centre);
        radius = std::fmax(radius, work.offsets.back().norm());
    }
    if (work.offsets.size() < fewest_points || !(radius > 0.0) || !std::isfinite(radius)) {
        return false;
    }
    const double scale = 1.0 / radius;
    // Gaussian weights of width `spread`: the nearest points decide the
    // quadric, which keeps the fit's bias from the surface's higher-order
    // terms small, while the farther ones still steady it against noise.
    // (Capped, so that a far point's weight never underflows; a zero width,
    // where the first ring collapsed onto the vertex, weighs all alike.)
    const double falloff =
        spread > 0.0 ? std::fmin(radius * radius / (spread * spread), 40.0) : 0.0;
    // The weighted normal equations, lower triangle only.
    Eigen::Matrix<double, unknowns, unknowns> normal_matrix =
        Eigen::Matrix<double, unknowns, unknowns>::Zero();
    Eigen::Matrix<double, unknowns, 1> right = Eigen::Matrix<double, unknowns, 1>::Zero();
    for (const Vec3& offset : work.offsets) {
        const Vec3 d = offset * scale;
        const double x = d.dot(t1), y = d.dot(t2), z = d.dot(n);
        const double row[unknowns] = {1.0, x, y, x * x, x * y, y * y};
        const double weight = double(std::exp(-float(d.squaredNorm() * falloff)));
        for (int i = 0; i < unknowns; ++i) {
            const double wi = weight * row[i];
            for (int j = 0; j <= i; ++j) {
                normal_matrix(i, j) += wi * row[j];
            }
            right(i) += wi * z;
        }
    }
    const Eigen::LDLT<Eigen::Matrix<double, unknowns, unknowns>, Eigen::Lower> solver(
        normal_matrix);
    // The pivots of the factorisation (largest first) stand in for the
    // condition number, at a fraction of the cost of estimating it.
    const auto pivots = solver.vectorD().cwiseAbs();
    if (solver.info() != Eigen::Success ||
        !(pivots.minCoeff() > smallest_pivot * pivots.maxCoeff())) {
        return false;
    }
    const Eigen::Matrix<double, unknowns, 1> c = solver.solve(right);
    if (!c.allFinite()) {
        return false;
    }
    // Back in world units: slope (c1, c2), Hessian of the height field.
    const double g1 = c(1), g2 = c(2);
    Eigen::Matrix2d hessian;
    hessian << 2.0 * c(3) * scale, c(4) * scale, c(4) * scale, 2.0 * c(5) * scale;
    // The fitted surface's tangents along x and y, its first fundamental
    // form and its unit normal (on the side of n).
    Eigen::Matrix<double, 3, 2> tangents;
    tangents.col(0) = t1 + g1 * n;
    tangents.col(1) = t2 + g2 * n;
    const Eigen::Matrix2d first = tangents.transpose() * tangents;
    const double w = std::sqrt(1.0 + g1 * g1 + g2 * g2);
    fitted_normal = (n - g1 * t1 - g2 * t2) / w;
    // II(a, b) = alpha' (H / w) beta for tangent vectors with coordinates
    // alpha, beta in the basis of the tangents; coordinates of a world
    // tangent vector a are first^-1 tangents' a.
    const Eigen::Matrix<double, 2, 3> coordinates = first.inverse() * tangents.transpose();
    const Eigen::Matrix3d world = coordinates.transpose() * (hessian / w) * coordinates;
    // Beyond this a curvature is not a surface's but noise in the
    // coordinates, and it would not fit in a float.
    if (!world.allFinite() || !(world.cwiseAbs().maxCoeff() < largest_curvature)) {
        return false;
    }
    tensor = {float(world(0, 0)), float(world(0, 1)), float(world(0, 2)),
              float(world(1, 1)), float(world(1, 2)), float(world(2, 2))};
    return std::isfinite(tensor.xx) && std::isfinite(tensor.xy) && std::isfinite(tensor.xz) &&
           std::isfinite(tensor.yy) && std::isfinite(tensor.yz) && std::isfinite(tensor.zz);
}

// The tensor at one welded vertex: fits over the rings asked for, widening
// while the points are too few or degenerate.
bool estimate_at(const Topology& topology, uint32_t vertex, int rings, Workspace& work,
                 CurvatureTensor& tensor) {
    const Float3 normal = topology.normals[vertex];
    Vec3 n = vec(normal);
    if (!(n.squaredNorm() > 0.5)) {
        return false; // no usable normal: the sign would be a guess
    }
    const Vec3 centre = vec(topology.positions[vertex]);
    double edges = 0.0;
    for (uint32_t k = topology.first[vertex]; k < topology.first[vertex + 1]; ++k) {
        edges += (vec(topology.positions[topology.neighbours[k]]) - centre).norm();
    }
    const uint32_t degree = topology.first[vertex + 1] - topology.first[vertex];
    if (degree == 0) {
        return false; // isolated
    }
    const double edge = edges / degree;
    size_t ring_start = 0;
    int done = 0;
    rings = std::min(std::max(rings, 1), max_rings);
    for (int r = rings; r <= rings + extra_rings; ++r) {
        gather(topology, vertex, done, r, work, ring_start);
        done = r;
        // The weights' width grows with the rings: more rings smooth more,
        // for noisy scans, and a widened neighbourhood counts.
        const double spread = r * edge / std::sqrt(8.0);
        Vec3 fitted;
        if (fit(topology, work, centre, n, spread, tensor, fitted)) {
            // A vertex normal far from the fitted one (a poor normal in the
            // file) tilts the height field: fit once more in the fitted frame.
            if (fitted.dot(n) < 0.95) {
                n = fitted;
                if (!fit(topology, work, centre, n, spread, tensor, fitted)) {
                    return false;
                }
            }
            return true;
        }
        if (work.gathered.size() == ring_start) {
            break; // the neighbourhood stopped growing
        }
    }
    return false;
}

} // namespace

void estimate_vertex_curvature(const Mesh& mesh, const CurvatureSettings& settings,
                               VertexCurvature& curvature) {
    const size_t count = mesh.positions.size();
    curvature.tensors.assign(count, CurvatureTensor{0, 0, 0, 0, 0, 0});
    curvature.valid.assign(count, 0);
    if (count == 0) {
        return;
    }
    Topology topology;
    build_topology(mesh, topology);
    const size_t welded_count = topology.positions.size();
    std::vector<CurvatureTensor> tensors(welded_count, CurvatureTensor{0, 0, 0, 0, 0, 0});
    std::vector<uint8_t> valid(welded_count, 0);

    // Vertices are handed out in blocks from a shared counter; each one is
    // written by exactly one thread.
    constexpr size_t block = 1024;
    std::atomic<size_t> next{0};
    auto work = [&]() {
        Workspace workspace(welded_count);
        for (;;) {
            const size_t begin = next.fetch_add(block);
            if (begin >= welded_count) {
                return;
            }
            const size_t end = std::min(welded_count, begin + block);
            for (size_t w = begin; w < end; ++w) {
                valid[w] = estimate_at(topology, uint32_t(w), settings.rings, workspace, tensors[w])
                               ? 1
                               : 0;
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
    for (size_t v = 0; v < count; ++v) {
        const uint32_t w = topology.welded[v];
        curvature.tensors[v] = tensors[w];
        curvature.valid[v] = valid[w];
    }
}

bool derivatives_at(const VertexCurvature& curvature, const uint32_t corner[3], const float bary[3],
                    const Float3& normal, Float3 derivs[5]) {
    // The blend of the corners' tensors: a frame-independent quantity, unlike
    // per-vertex principal directions, which flip from vertex to vertex.
    Eigen::Matrix3d tensor = Eigen::Matrix3d::Zero();
    for (int k = 0; k < 3; ++k) {
        const size_t v = corner[k];
        if (v >= curvature.valid.size() || curvature.valid[v] == 0) {
            return false;
        }
        const CurvatureTensor& t = curvature.tensors[v];
        Eigen::Matrix3d m;
        m << t.xx, t.xy, t.xz, t.xy, t.yy, t.yz, t.xz, t.yz, t.zz;
        tensor += double(bary[k]) * m;
    }
    Vec3 n(normal.x, normal.y, normal.z);
    const double length = n.norm();
    if (!(length > 0.0) || !std::isfinite(length)) {
        return false;
    }
    n /= length;
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
