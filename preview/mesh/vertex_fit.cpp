#include "preview/mesh/vertex_fit.h"

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <vector>

#include "preview/mesh/jet_fit.h"
#include "preview/mesh/tangent_frame.h"

namespace preview {
namespace {

using Vec3 = Eigen::Vector3d;

// The neighbourhoods, measured on the accuracy report's meshes
// (docs/preview-accuracy.md). With normals that carry information, fields
// through the vertex over one ring, and over two where the mesh is coarse
// enough for it to pay (fit_pinned). Without, positions-only quartics over
// two rings (N), which keep detail where the mesh is coarse, and over four
// (W), which average out a scan's noise where it is fine, their weights a
// Gaussian of distance 2.8 mean edges wide (even over two rings, fading
// over four).
constexpr double wide_width = 2.8;
constexpr int narrow_rings = 2;
constexpr int wide_rings = 4;
// Each choice follows t, the edge times the largest principal curvature:
// the angle the normal turns over one edge. With normals, the fits' error
// from the terms they leave out grows as t^2, while float rounding of the
// positions, 2^-24 of their size against heights of about t times the edge,
// costs about r = 2^-24 |p| / (t edge) of the curvature: the cubic over one
// ring takes over from the quadratic as t^2 / r rises from 0.5 to 1, and
// the extrapolation with the second ring from 2 to 4. Without normals, N
// takes over from W as t rises from 0.15 to 0.3.
constexpr double cubic_from = 0.5, cubic_to = 1.0;
constexpr double extrapolate_from = 2.0, extrapolate_to = 4.0;
constexpr double coarse_from = 0.15, coarse_to = 0.3;
constexpr double rounding = 0x1p-24;
// A fit that fails is widened ring by ring up to this many rings.
constexpr int widest = max_rings + 4;
// A vertex normal this far from the fitted one (cos 18 degrees) tilts the
// height field: fit once more in the fitted frame.
constexpr double refit_below = 0.95;
// A neighbour's normal steeper than this against the frame gives no slope.
constexpr double steepest_slope_cos = 0.3;

double angle_between(const Vec3& a, const Vec3& b) {
    return std::atan2(a.cross(b).norm(), a.dot(b));
}

// The angle the normal turns over one edge at the steepest bend of a height
// field with quadratic terms (c3, c4, c5) in edge units: the larger
// principal curvature of its Hessian.
double turn_per_edge(double c3, double c4, double c5) {
    const double mean = c3 + c5, half_difference = c3 - c5;
    return std::fabs(mean) + std::sqrt(half_difference * half_difference + c4 * c4);
}

// The weight of the finer choice: 0 below `from`, 1 above `to`, smooth between.
double blend(double t, double from, double to) {
    const double s = std::min(1.0, std::max(0.0, (t - from) / (to - from)));
    return s * s * (3.0 - 2.0 * s);
}

// The highest degree (4 down to 2) whose fit the moments determine.
bool fit_highest(const JetMoments& moments, double slope_weight, Jet& jet) {
    for (int degree = max_jet_degree; degree >= 2; --degree) {
        if (fit_jet(moments, degree, slope_weight, nullptr, 0.0, jet)) {
            return true;
        }
    }
    return false;
}

// A positions-only jet over `rings` rings, summed into moments from ring
// `done` on; where the points do not determine it, widened ring by ring
// until they do or the neighbourhood stops growing. Without normals, the
// slopes are ignored; with normals but rings asked for, they are matched.
struct GrowingJet {
    JetMoments moments;
    int done = -1; // the last ring summed

    bool fit(const Topology& topology, RingWalk& walk, const TangentFrame& frame, double width,
             bool slopes, int rings, Jet& jet) {
        for (int r = rings; r <= widest; ++r) {
            if (!sum_to(topology, walk, frame, width, slopes, r)) {
                return false;
            }
            if (fit_highest(moments, slopes ? 1.0 : 0.0, jet)) {
                return true;
            }
        }
        return false;
    }

    // Sums the points up to ring `rings`; false when the neighbourhood stops
    // growing before it.
    bool sum_to(const Topology& topology, RingWalk& walk, const TangentFrame& frame, double width,
                bool slopes, int rings) {
        if (done < 0) {
            moments.with_slopes = slopes; // without, the slope sums go unread
        }
        while (done < rings) {
            if (walk.rings() <= done && !walk.grow(topology)) {
                return false; // nothing left to widen into
            }
            add_ring(topology, walk, ++done, frame, width, slopes);
        }
        return true;
    }

    // Adds one ring's points, weighted by a Gaussian of width `width`
    // edges. A neighbour facing away is across a fold or a thin sheet, not
    // on the height field around this vertex.
    void add_ring(const Topology& topology, const RingWalk& walk, int ring,
                  const TangentFrame& frame, double width, bool slopes) {
        const size_t begin = ring == 0 ? 0 : walk.ring_end(ring - 1);
        const double falloff = 1.0 / (width * width);
        JetPoints batch;
        for (size_t i = begin; i < walk.ring_end(ring); ++i) {
            const uint32_t q = walk.vertices()[i];
            const Vec3 normal = vec(topology.normals[q]);
            const double c = normal.dot(frame.n);
            if (c <= 0.0) {
                continue;
            }
            const Vec3 d = frame.local(topology.positions[q]);
            const int k = batch.count++;
            batch.x[k] = d.x(), batch.y[k] = d.y(), batch.z[k] = d.z();
            const double s = d.squaredNorm() * falloff;
            batch.w[k] = s < farthest_weight_exponent ? s : farthest_weight_exponent;

            batch.has_slope[k] = slopes && c > steepest_slope_cos;
            batch.sx[k] = batch.has_slope[k] ? -normal.dot(frame.t1) / c : 0.0;
            batch.sy[k] = batch.has_slope[k] ? -normal.dot(frame.t2) / c : 0.0;
            if (batch.count == JetPoints::capacity) {
                weigh_gaussian(batch);
                moments.add(batch);
                batch.count = 0;
            }
        }
        weigh_gaussian(batch);
        moments.add(batch);
    }
};

} // namespace

namespace {

// The frame at a vertex, oriented by `normal`; false for an isolated vertex
// or a collapsed fan (no length to scale by).
bool frame_at(const Topology& topology, uint32_t vertex, const Vec3& normal, TangentFrame& frame) {
    const uint32_t degree = topology.first[vertex + 1] - topology.first[vertex];
    if (degree == 0) {
        return false;
    }
    frame.centre = vec(topology.positions[vertex]);
    double edges = 0.0;
    for (uint32_t k = topology.first[vertex]; k < topology.first[vertex + 1]; ++k) {
        edges += (vec(topology.positions[topology.neighbours[k]]) - frame.centre).norm();
    }
    frame.edge = edges / degree;
    frame.orient(normal);
    return frame.edge > 0.0 && std::isfinite(frame.edge);
}

double median(std::vector<double>& values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

} // namespace

bool normals_carry_information(const Topology& topology) {
    const size_t count = topology.positions.size();
    const size_t step = topology.face_sample_step; // a sample does
    std::vector<double> apart;
    for (size_t v = 0; v < count; v += step) {
        const Vec3 n = vec(topology.normals[v]), f = vec(topology.face_normals[v / step]);
        if (n.squaredNorm() > 0.5 && f.squaredNorm() > 0.5) {
            apart.push_back(angle_between(n, f));
        }
    }
    if (apart.empty()) {
        return false;
    }
    const double typical = median(apart);
    // The faces' own normals, to float precision: nothing new.
    if (typical < 1e-6) {
        return false;
    }
    // Close to the faces' normals, as any good normals of a fine mesh are:
    // too close to tell which sit nearer the surface, and no harm either way.
    if (typical < 1e-3) {
        return true;
    }
    // Otherwise: do they sit nearer the surface the positions describe (the
    // normal of a positions-only quartic over two rings) than the faces'
    // normals do?
    RingWalk walk(count);
    std::vector<double> given, faces;
    for (size_t v = 0; v < count; v += step) {
        const Vec3 n = vec(topology.normals[v]), f = vec(topology.face_normals[v / step]);
        TangentFrame frame;
        if (!(n.squaredNorm() > 0.5) || !(f.squaredNorm() > 0.5) ||
            !frame_at(topology, uint32_t(v), n, frame)) {
            continue;
        }
        walk.start(uint32_t(v));
        GrowingJet grown;
        Jet jet;
        if (grown.fit(topology, walk, frame, wide_width, false, narrow_rings, jet)) {
            const Vec3 fitted = (n - jet.c[1] * frame.t1 - jet.c[2] * frame.t2).normalized();
            given.push_back(angle_between(fitted, n));
            faces.push_back(angle_between(fitted, f));
        }
    }
    return !given.empty() && median(given) < 0.7 * median(faces);
}

bool VertexFitter::fit(uint32_t vertex, CurvatureTensor& tensor) {
    const Vec3 normal = vec(topology_->normals[vertex]);
    if (!(normal.squaredNorm() > 0.5)) {
        return false; // no usable normal: the sign would be a guess
    }
    TangentFrame frame;
    if (!frame_at(*topology_, vertex, normal, frame)) {
        return false; // isolated, or a collapsed fan
    }
    double world[3][3], fitted[3];
    if (!fit_in_frame(vertex, frame, world, fitted)) {
        return false;
    }
    // A vertex normal far from the fitted one (a poor normal in the file)
    // tilts the height field: fit once more in the fitted frame, widening
    // there as needed, and keep the first fit only if that finds none.
    const Vec3 fitted_normal(fitted[0], fitted[1], fitted[2]);
    if (fitted_normal.dot(frame.n) < refit_below) {
        frame.orient(fitted_normal);
        double again[3][3];
        if (fit_in_frame(vertex, frame, again, fitted)) {
            std::copy(&again[0][0], &again[0][0] + 9, &world[0][0]);
        }
    }
    tensor = {float(world[0][0]), float(world[0][1]), float(world[0][2]),
              float(world[1][1]), float(world[1][2]), float(world[2][2])};
    return std::isfinite(tensor.xx) && std::isfinite(tensor.xy) && std::isfinite(tensor.xz) &&
           std::isfinite(tensor.yy) && std::isfinite(tensor.yz) && std::isfinite(tensor.zz);
}

bool VertexFitter::fit_in_frame(uint32_t vertex, const TangentFrame& frame, double world[3][3],
                                double normal[3]) {
    walk_.start(vertex);
    if (plan_.rings > 0) {
        // Wider rings smooth more: the weights widen with them.
        GrowingJet grown;
        Jet jet;
        return grown.fit(*topology_, walk_, frame, wide_width / wide_rings * plan_.rings,
                         plan_.use_normals, plan_.rings, jet) &&
               frame.tensor(jet.c[1], jet.c[2], jet.c[3], jet.c[4], jet.c[5], world, normal);
    }
    return plan_.use_normals ? fit_pinned(frame, world, normal)
                             : fit_positions(frame, world, normal);
}

// With normals that carry information. Where the mesh is fine, a quadratic
// through the vertex fitted to one ring's heights and slopes is within float
// rounding of anything better. Coarser, cubics over one ring (E1) and two
// (E2): their quadratic terms err by the surface's quartic terms times the
// mean square distance of the points, about three times as large over two
// rings of a regular mesh as over one, so (3 E1 - E2) / 2 cancels most of
// that error (Richardson's extrapolation; measured, 3 did better than 2.5,
// 3.5 or 4 at fineness 32 to 512). Where one ring does not determine a fit,
// E2 alone, widened until the points determine it.
bool VertexFitter::fit_pinned(const TangentFrame& frame, double world[3][3], double normal[3]) {
    ring_.clear();
    if (!walk_.grow(*topology_)) {
        return false;
    }
    for (size_t i = walk_.ring_end(0); i < walk_.ring_end(1); ++i) {
        const uint32_t q = walk_.vertices()[i];
        const Vec3 n = vec(topology_->normals[q]);
        const double c = n.dot(frame.n);
        if (c <= 0.0) {
            continue; // across a fold or a thin sheet
        }
        const Vec3 d = frame.local(topology_->positions[q]);
        const bool has_slope = c > steepest_slope_cos;
        ring_.push_back({d.x(), d.y(), d.z(), has_slope ? -n.dot(frame.t1) / c : 0.0,
                         has_slope ? -n.dot(frame.t2) / c : 0.0, has_slope});
    }
    double terms[3], cubic[3];
    const bool have_quadratic = fit_pinned_quadratic(ring_.data(), int(ring_.size()), terms);
    // t^2 / r, the fits' error from the terms they leave out against float
    // rounding's (infinite where no quadratic tells t).
    double ratio = INFINITY;
    if (have_quadratic) {
        const double t = turn_per_edge(terms[0], terms[1], terms[2]);
        const double size = frame.centre.cwiseAbs().maxCoeff();
        ratio = t * t * t * frame.edge / (rounding * size);
    }
    const double use_cubic = blend(ratio, cubic_from, cubic_to);
    if (use_cubic > 0.0) {
        PinnedCubicMoments nearest;
        for (const PinnedPoint& p : ring_) {
            nearest.add(p);
        }
        const bool have_near = fit_pinned_cubic(nearest, cubic);
        const double extrapolate = have_near ? blend(ratio, extrapolate_from, extrapolate_to) : 1.0;
        if (extrapolate > 0.0) {
            PinnedCubicMoments wider = nearest;
            int rings = 1;
            double far[3];
            bool fitted = false;
            while (!fitted && rings < widest && walk_.grow(*topology_)) {
                ++rings;
                for (size_t i = walk_.ring_end(rings - 1); i < walk_.ring_end(rings); ++i) {
                    const uint32_t q = walk_.vertices()[i];
                    const Vec3 n = vec(topology_->normals[q]);
                    const double c = n.dot(frame.n);
                    if (c > 0.0) {
                        const Vec3 d = frame.local(topology_->positions[q]);
                        const bool has_slope = c > steepest_slope_cos;
                        wider.add({d.x(), d.y(), d.z(), has_slope ? -n.dot(frame.t1) / c : 0.0,
                                   has_slope ? -n.dot(frame.t2) / c : 0.0, has_slope});
                    }
                }
                fitted = rings >= narrow_rings && fit_pinned_cubic(wider, far);
            }
            if (!fitted && !have_near) {
                return false;
            }
            for (int k = 0; k < 3 && fitted; ++k) {
                const double richardson = (3.0 * cubic[k] - far[k]) / 2.0;
                cubic[k] = !have_near || rings > narrow_rings
                               ? far[k]
                               : extrapolate * richardson + (1.0 - extrapolate) * cubic[k];
            }
        }
        for (int k = 0; k < 3; ++k) {
            terms[k] =
                have_quadratic ? use_cubic * cubic[k] + (1.0 - use_cubic) * terms[k] : cubic[k];
        }
    }
    return frame.tensor(0.0, 0.0, terms[0], terms[1], terms[2], world, normal);
}

// Without such normals: W over four rings, widening on, and N over two
// rings where the mesh is coarse enough for it to count. The rings are summed
// once; N's sums are kept at two rings and solved only where needed (most of
// a fine scan needs W alone). A two-ring fit that fails is not widened: W
// covers that vertex alone.
bool VertexFitter::fit_positions(const TangentFrame& frame, double world[3][3], double normal[3]) {
    GrowingJet grown;
    const bool have_two = grown.sum_to(*topology_, walk_, frame, wide_width, false, narrow_rings);
    const JetMoments two_rings = grown.moments; // read only if have_two
    Jet narrow, wide;
    if (!grown.fit(*topology_, walk_, frame, wide_width, false, wide_rings, wide) ||
        !frame.tensor(wide.c[1], wide.c[2], wide.c[3], wide.c[4], wide.c[5], world, normal)) {
        return false;
    }
    const double coarse =
        blend(turn_per_edge(wide.c[3], wide.c[4], wide.c[5]), coarse_from, coarse_to);
    double near_world[3][3], unused[3];
    if (coarse > 0.0 && have_two && fit_highest(two_rings, 0.0, narrow) &&
        frame.tensor(narrow.c[1], narrow.c[2], narrow.c[3], narrow.c[4], narrow.c[5], near_world,
                     unused)) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                world[i][j] = coarse * near_world[i][j] + (1.0 - coarse) * world[i][j];
            }
        }
    }
    return true;
}

} // namespace preview
