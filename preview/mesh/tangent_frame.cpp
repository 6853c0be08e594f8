#include "preview/mesh/tangent_frame.h"

#include <cmath>

namespace preview {
namespace {

using Vec3 = Eigen::Vector3d;

// The largest entry of a tensor kept.
constexpr double largest_curvature = 1e30;

} // namespace

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

bool TangentFrame::tensor(double g1, double g2, double c3, double c4, double c5, double world[3][3],
                          double normal[3]) const {
    Eigen::Matrix2d hessian;
    hessian << 2.0 * c3 / edge, c4 / edge, c4 / edge, 2.0 * c5 / edge;
    // The fitted surface's tangents along x and y, its first fundamental
    // form and its unit normal.
    Eigen::Matrix<double, 3, 2> tangents;
    tangents.col(0) = t1 + g1 * n;
    tangents.col(1) = t2 + g2 * n;
    const Eigen::Matrix2d first = tangents.transpose() * tangents;
    const double w = std::sqrt(1.0 + g1 * g1 + g2 * g2);
    const Vec3 fitted = (n - g1 * t1 - g2 * t2) / w;
    // II(a, b) = alpha' (H / w) beta for tangent vectors with coordinates
    // alpha, beta in the basis of the tangents; coordinates of a world
    // tangent vector a are first^-1 tangents' a.
    const Eigen::Matrix<double, 2, 3> coordinates = first.inverse() * tangents.transpose();
    const Eigen::Matrix3d form = coordinates.transpose() * (hessian / w) * coordinates;
    // Beyond this a curvature is not a surface's but noise in the
    // coordinates, and it would not fit in a float.
    if (!form.allFinite() || !(form.cwiseAbs().maxCoeff() < largest_curvature)) {
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            world[i][j] = form(i, j);
        }
    }
    normal[0] = fitted.x(), normal[1] = fitted.y(), normal[2] = fitted.z();
    return true;
}

} // namespace preview
