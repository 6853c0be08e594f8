#include "preview/render/camera.h"

#include <algorithm>
#include <cmath>

namespace preview {
namespace {

Vector normalised(double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    return {float(x / length), float(y / length), float(z / length)};
}

Vector cross(Vector p, Vector q) {
    return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
}

constexpr double pi = 3.141592653589793;

} // namespace

Camera frame_camera(const Scene& scene, int width, int height, const View& view) {
    Float3 lo, hi;
    scene.bounds(lo, hi);
    const double cx = 0.5 * (double(lo.x) + hi.x), cy = 0.5 * (double(lo.y) + hi.y),
                 cz = 0.5 * (double(lo.z) + hi.z);
    const double dx = double(hi.x) - lo.x, dy = double(hi.y) - lo.y, dz = double(hi.z) - lo.z;
    // A point-like scene still gets a distance the floats can tell apart.
    const double far = std::max({std::fabs(cx), std::fabs(cy), std::fabs(cz), 1.0});
    const double radius = std::max(0.5 * std::sqrt(dx * dx + dy * dy + dz * dz), 1e-6 * far);
    Camera camera;
    camera.aspect = float(width) / float(height);
    // The command line refuses other values; kept in range here all the same,
    // so that no view can give a camera facing nowhere.
    const double fov = std::fmin(std::fmax(double(view.fov), 0.01), 179.0);
    const double half_height = 0.5 * fov * pi / 180.0;
    camera.tan_half_height = float(std::tan(half_height));
    const double half_width = std::atan(std::tan(half_height) * camera.aspect);

    // The eye's direction from the centre, and the image's right, both in
    // the frame whose vertical is the up axis. The right is the horizontal
    // tangent of the eye's circle, which does not depend on the elevation:
    // straight down the up axis the basis stays whole.
    const double azimuth = double(view.azimuth) * pi / 180.0;
    const double elevation = std::fmin(std::fmax(double(view.elevation), -90.0), 90.0) * pi / 180.0;
    const double across = std::sin(azimuth) * std::cos(elevation);
    const double back = std::cos(azimuth) * std::cos(elevation);
    const double lift = std::sin(elevation);
    Vector towards_eye, right;
    if (view.up == View::Up::y) {
        towards_eye = normalised(across, lift, back);
        right = normalised(std::cos(azimuth), 0.0, -std::sin(azimuth));
    } else {
        towards_eye = normalised(across, -back, lift);
        right = normalised(std::cos(azimuth), std::sin(azimuth), 0.0);
    }
    const Vector forward{-towards_eye.x, -towards_eye.y, -towards_eye.z};
    const Vector up = cross(right, forward);
    // The nearest distance at which every corner of the bounding box lies
    // inside the frame, with a small margin. Each corner is kept in front of
    // the eye, a twentieth of the radius at least: a box seen along its
    // diagonal has its nearest corner in the middle of the frame, where
    // the frame's edges do not hold it off.
    const double tan_h = std::tan(half_height) / 1.05, tan_w = std::tan(half_width) / 1.05;
    double distance = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        const double px = (corner & 1 ? hi.x : lo.x) - cx, py = (corner & 2 ? hi.y : lo.y) - cy,
                     pz = (corner & 4 ? hi.z : lo.z) - cz;
        const double along = px * forward.x + py * forward.y + pz * forward.z;
        const double sideways = std::fabs(px * right.x + py * right.y + pz * right.z);
        const double upward = std::fabs(px * up.x + py * up.y + pz * up.z);
        distance = std::max(
            {distance, sideways / tan_w - along, upward / tan_h - along, 0.05 * radius - along});
    }
    camera.eye = {float(cx + distance * towards_eye.x), float(cy + distance * towards_eye.y),
                  float(cz + distance * towards_eye.z)};
    camera.forward = forward;
    camera.right = right;
    camera.up = up;
    return camera;
}

} // namespace preview
