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
    // cost is a few extra shading calls a pixel, not a sample. Reading leaves
    // the shaded image as it is, bit for bit.
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
    // coverage 0 in rgba. k1 >= k2, against the outward normal (a convex
    // surface has negative k, as mean = -(k1 + k2) / 2 is positive there).
    // Method 1 gives no principal curvatures: with it the layers stay empty,
    // and where a connected method is 1 at a hit they hold NaN.
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

// A copy of instance to read the measure back with (read_back_measure):
// mapping, range_max, range_min, threshold and use_contrast disconnected, as
// the read-back sets them; with free_measure also measure, for reading the
// mean and the Gaussian curvature (read_back_principal). The rest, method
// above all, keeps its value and its connection. Each render thread needs
// its own copy: the read-back writes its parameters.
Instance reading_instance(const Instance& instance, bool free_measure = false);

// The signed measure h the shader maps at a hit, read back exactly: the
// positive-side mapping with range 1e6 and no dead zone writes h / 1e6 for
// 0 < h < 1e6, the negative side -h / 1e6 for -1e6 < h < 0, so one of them
// gives h to float precision; the two-sided mapping, asked only when both
// wrote 0, tells a NaN measure (NaN) from 0. One call when h > 0, two when
// h < 0, three when h is 0 or NaN. A measure beyond 1e6 in size, which
// saturates, is read again with range FLT_MAX; beyond that it is infinite.
// The seed is the sample's, so method 2 casts the same probe rays. instance
// must not have those five parameters connected (see reading_instance); it
// is left with them changed.
double read_back_measure(const Plugin& plugin, Instance& instance, const Scene& scene,
                         const Hit& hit, uint32_t seed, HostState& host);

// The principal curvatures at a hit, from the mean H and, for method 0, the
// Gaussian K read back as above: method 0 gives k = -H +- sqrt(max(H^2 - K,
// 0)), method 2 its single k1 = k2 = -H. False, with k1 = k2 = NaN, where the
// method at the hit (connected or not) is 1 or unknown. instance must come
// from reading_instance(..., true); its measure is left changed.
bool read_back_principal(const Plugin& plugin, Instance& instance, const Scene& scene,
                         const Hit& hit, uint32_t seed, HostState& host, float& k1, float& k2);

} // namespace preview
