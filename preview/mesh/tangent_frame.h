// The frame a vertex's height field is fitted in (vertex_fit.h): the vertex,
// its normal and two tangents, and the mean edge that scales the
// coordinates.
#pragma once

#include <Eigen/Dense>

#include "preview/mesh/mesh.h"

namespace preview {

inline Eigen::Vector3d vec(Float3 p) {
    return {double(p.x), double(p.y), double(p.z)};
}

Eigen::Vector3d perpendicular(const Eigen::Vector3d& n);

// Where the fit is made: the vertex, its tangent frame, and the length that
// scales the coordinates (the mean edge at the vertex), so that the normal
// equations are well conditioned whatever the mesh's units.
struct TangentFrame {
    Eigen::Vector3d centre, t1, t2, n;
    double edge = 0.0;
    void orient(const Eigen::Vector3d& normal) {
        n = normal;
        t1 = perpendicular(n);
        t2 = n.cross(t1);
    }
    Eigen::Vector3d local(Float3 p) const {
        const Eigen::Vector3d d = (vec(p) - centre) / edge;
        return {d.dot(t1), d.dot(t2), d.dot(n)};
    }
    // The fitted surface's second fundamental form at the origin, for a
    // height field with slope (g1, g2) and quadratic terms (c3, c4, c5), as
    // a world tensor; and its unit normal (on the side of the frame's).
    bool tensor(double g1, double g2, double c3, double c4, double c5, double world[3][3],
                double normal[3]) const;
};

} // namespace preview
