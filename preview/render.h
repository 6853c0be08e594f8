// Rendering: a pinhole camera framed on the scene, several samples per
// pixel, the shader run at every hit, on all cores.
#pragma once

#include <string>
#include <vector>

#include "preview/host_state.h"
#include "preview/plugin.h"
#include "preview/scene.h"

namespace preview {

// Where the camera looks from: the eye circles the model's centre. Azimuth 0
// and elevation 0 look at the model's front (from +Z with Y up, from -Y with
// Z up); positive azimuth turns the eye to the right around the up axis,
// positive elevation lifts it.
struct View {
    enum class Up { y, z };
    float azimuth = 0.0f;    // degrees
    float elevation = 16.7f; // degrees
    Up up = Up::y;
    float fov = 40.0f; // vertical field of view, degrees
};

struct RenderSettings {
    int width = 640;
    int height = 480;
    int samples_per_pixel = 4;
    int threads = 0;       // 0: every core
    bool progress = false; // a progress bar on the standard error stream
    View view;
    // Also read the shader's raw measure back at every pixel (Image::measure),
    // and its principal curvatures k1 and k2 where the method gives them
    // (Image::k1, Image::k2): at the pixel's first sample that hits, so the
    // cost is a few extra shading calls a pixel, not a sample.
    bool read_measure = false;
    bool read_principal = false;
    // For the benchmarks, which set it to time the host against its bare
    // rays: -1 (the default) shades every hit. 0 casts the primary rays and
    // calls no shader. n > 0 also casts, at every hit, n rays laid out as
    // the shader's probe rays are (from one normal length above the hit,
    // back towards it, jittered by the sphere of radius 1 / probe_scale):
    // the bare cost of method 2 with n probes. The image is left empty.
    int bare_rays = -1;
};

// Red, green, blue and coverage per pixel, rows from the top. A pixel's colour
// is the mean of what the shader wrote at its samples that hit a surface (a
// NaN at any of them makes the pixel NaN); coverage is the share of its
// samples that hit. A pixel no sample hit is (0, 0, 0, 0).
struct Image {
    int width = 0;
    int height = 0;
    std::vector<float> rgba;
    // One value per pixel, when asked for (RenderSettings::read_measure,
    // read_principal); empty otherwise. A pixel no sample hit holds 0 and
    // coverage 0 in rgba.
    std::vector<float> measure; // the signed measure h the shader mapped
    std::vector<float> k1, k2;  // principal curvatures (methods 0 and 2 only)
    // What the render saw, for the summary line and its warnings.
    long long samples_cast = 0;             // primary rays
    long long samples_hit = 0;              // of them, those that hit a surface
    long long hits_without_derivatives = 0; // hits whose state had no derivatives
};

// Where the render's time went, summed over all threads.
struct RenderTiming {
    double total_seconds = 0.0;  // wall clock of the whole render
    double thread_seconds = 0.0; // busy time of all render threads
    double shader_seconds = 0.0; // inside the shader, its probe rays included
    long long shading_calls = 0;
};

struct Camera {
    Vector eye{}, forward{}, right{}, up{};
    float tan_half_height = 0.0f; // tan of half the vertical field of view
    float aspect = 1.0f;
};

// Looks at the scene's centre from the view's direction, at the nearest
// distance where its whole bounding box fits the frame, whatever its size.
Camera frame_camera(const Scene& scene, int width, int height, const View& view = View{});

// Runs the shader's start-up calls, renders, and runs its exit calls. The
// time spent inside the shader is measured only when timing is given. The
// image is the same for any thread count: every pixel's samples, sample
// seeds and ray order depend on the pixel alone.
void render(const Scene& scene, const Plugin& plugin, Instance& instance,
            const RenderSettings& settings, Image& image, RenderTiming* timing = nullptr);

// Shades one hit as the render loop does, for tests and the accuracy report:
// loads the hit into host (which keeps its child) and calls the shader.
Colour shade_hit(const Plugin& plugin, const Instance& instance, const Scene& scene, const Hit& hit,
                 uint32_t seed, HostState& host);

} // namespace preview
