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

// The scene's bounding box: its corners, centre and radius.
struct Box {
    Float3 lo, hi;
    double centre[3];
    double radius;
};

Box scene_box(const Scene& scene) {
    Box box;
    scene.bounds(box.lo, box.hi);
    const Float3 &lo = box.lo, &hi = box.hi;
    box.centre[0] = 0.5 * (double(lo.x) + hi.x);
    box.centre[1] = 0.5 * (double(lo.y) + hi.y);
    box.centre[2] = 0.5 * (double(lo.z) + hi.z);
    const double dx = double(hi.x) - lo.x, dy = double(hi.y) - lo.y, dz = double(hi.z) - lo.z;
    // A point-like scene still gets a distance the floats can tell apart
    // from its centre; a small model near the origin keeps its own size.
    const double far =
        std::max({std::fabs(box.centre[0]), std::fabs(box.centre[1]), std::fabs(box.centre[2])});
    box.radius = std::max({0.5 * std::sqrt(dx * dx + dy * dy + dz * dz), 1e-6 * far, 1e-30});
    return box;
}

// The camera's orientation for a view: the eye's direction from the centre
// and the image's right, both in the frame whose vertical is the up axis.
// The right is the horizontal tangent of the eye's circle, which does not
// depend on the elevation: straight down the up axis the basis stays whole.
void orient(Camera& camera, const View& view, Vector& towards_eye) {
    const double azimuth = double(view.azimuth) * pi / 180.0;
    const double elevation = std::fmin(std::fmax(double(view.elevation), -90.0), 90.0) * pi / 180.0;
    const double across = std::sin(azimuth) * std::cos(elevation);
    const double back = std::cos(azimuth) * std::cos(elevation);
    const double lift = std::sin(elevation);
    if (view.up == View::Up::y) {
        towards_eye = normalised(across, lift, back);
        camera.right = normalised(std::cos(azimuth), 0.0, -std::sin(azimuth));
    } else {
        towards_eye = normalised(across, -back, lift);
        camera.right = normalised(std::cos(azimuth), std::sin(azimuth), 0.0);
    }
    camera.forward = {-towards_eye.x, -towards_eye.y, -towards_eye.z};
    camera.up = cross(camera.right, camera.forward);
}

// The nearest distance at which every corner of the bounding box lies inside
// the frame, with a small margin. Each corner is kept in front of the eye, a
// twentieth of the radius at least: a box seen along its diagonal has its
// nearest corner in the middle of the frame, where the frame's edges do not
// hold it off.
double fitting_distance(const Camera& camera, const Box& box, double half_height) {
    const double half_width = std::atan(std::tan(half_height) * camera.aspect);
    const double tan_h = std::tan(half_height) / 1.05, tan_w = std::tan(half_width) / 1.05;
    const Vector &forward = camera.forward, &right = camera.right, &up = camera.up;
    double distance = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        const double px = (corner & 1 ? box.hi.x : box.lo.x) - box.centre[0],
                     py = (corner & 2 ? box.hi.y : box.lo.y) - box.centre[1],
                     pz = (corner & 4 ? box.hi.z : box.lo.z) - box.centre[2];
        const double along = px * forward.x + py * forward.y + pz * forward.z;
        const double sideways = std::fabs(px * right.x + py * right.y + pz * right.z);
        const double upward = std::fabs(px * up.x + py * up.y + pz * up.z);
        distance = std::max({distance, sideways / tan_w - along, upward / tan_h - along,
                             0.05 * box.radius - along});
    }
    return distance;
}

} // namespace

Camera frame_camera(const Scene& scene, int width, int height, const View& view, double distance) {
    const Box box = scene_box(scene);
    Camera camera;
    camera.aspect = float(width) / float(height);
    // The command line refuses other values; kept in range here all the same,
    // so that no view can give a camera facing nowhere.
    const double fov = std::fmin(std::fmax(double(view.fov), 0.01), 179.0);
    const double half_height = 0.5 * fov * pi / 180.0;
    camera.tan_half_height = float(std::tan(half_height));
    Vector towards_eye;
    orient(camera, view, towards_eye);
    camera.distance = distance > 0.0 ? distance : fitting_distance(camera, box, half_height);
    camera.eye = {float(box.centre[0] + camera.distance * towards_eye.x),
                  float(box.centre[1] + camera.distance * towards_eye.y),
                  float(box.centre[2] + camera.distance * towards_eye.z)};
    return camera;
}

double turntable_distance(const Scene& scene, int width, int height, const View& view, int images) {
    double distance = 0.0;
    for (int i = 0; i < std::max(1, images); ++i) {
        View turned = view;
        turned.azimuth = turntable_azimuth(view.azimuth, i, images);
        distance = std::max(distance, frame_camera(scene, width, height, turned).distance);
    }
    return distance;
}

float turntable_azimuth(float azimuth, int index, int images) {
    return float(std::fmod(double(azimuth) + 360.0 * index / std::max(1, images), 360.0));
}

} // namespace preview
