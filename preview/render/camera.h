// The pinhole camera: where it looks from, and how it frames the scene.
#pragma once

#include "preview/scene/scene.h"
#include "shader/renderer.h"

namespace preview {

// Where the camera looks from: the eye circles the model's centre. Azimuth 0
// and elevation 0 look at the model's front (from +Z with Y up, from -Y with
// Z up); positive azimuth turns the eye to the right around the up axis,
// positive elevation lifts it. Any azimuth and any elevation in [-90, 90]
// work, straight down the up axis included: the image's horizontal stays the
// one the azimuth gives. frame_camera clamps the elevation to [-90, 90] and
// the field of view to [0.01, 179]; a NaN gives the lower end.
struct View {
    enum class Up { y, z };
    float azimuth = 0.0f; // degrees
    // atan(0.3): the eye 0.3 up for every 1 back, the view the preview has
    // always had.
    float elevation = 16.699244f; // degrees
    Up up = Up::y;
    float fov = 40.0f; // vertical field of view, degrees
};

struct Camera {
    Vector eye{}, forward{}, right{}, up{};
    float tan_half_height = 0.0f; // tan of half the vertical field of view
    float aspect = 1.0f;
    double distance = 0.0; // from the eye to the centre of the scene's bounds
};

// Looks at the scene's centre from the view's direction, at the nearest
// distance where its whole bounding box fits the frame, whatever its size;
// or, when distance is positive, from that distance (a turntable keeps one
// for all its images, see turntable_distance).
Camera frame_camera(const Scene& scene, int width, int height, const View& view = View{},
                    double distance = 0.0);

// The distance that frames the scene in every one of `images` views around
// it, the azimuth rising by 360/images degrees from the view's: the largest
// of their own distances, so that the model keeps its size from image to
// image and is whole in each.
double turntable_distance(const Scene& scene, int width, int height, const View& view, int images);

// The azimuth of image `index` of a turntable of `images`, in [0, 360) for a
// start in it: the start's, turned by 360/images degrees an image.
float turntable_azimuth(float azimuth, int index, int images);

} // namespace preview
