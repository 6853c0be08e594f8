// Rendering: a pinhole camera framed on the scene, several samples per
// pixel, the shader run at every hit, on all cores.
#pragma once

#include "preview/host/host_state.h"
#include "preview/host/plugin.h"
#include "preview/image/image.h"
#include "preview/progress/progress.h"
#include "preview/render/camera.h"
#include "preview/scene/scene.h"

namespace preview {

struct RenderSettings {
    int width = 640;
    int height = 480;
    int samples_per_pixel = 4;
    int threads = 0; // 0: every core
    // Hears the step "render" and the share of the rows done, if given.
    Progress* progress = nullptr;
    View view;
    // The eye's distance from the scene's centre; 0 frames the scene from the
    // view (frame_camera). A turntable sets one for all its images.
    double distance = 0.0;
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
    // When set, each hit takes its colour from this texture at the hit's
    // texture coordinates (sample_texture) instead of calling the shader:
    // how a baked map is seen on its model. Nothing is read back then.
    const Image* texture = nullptr;
};

// Red, green, blue and coverage per pixel, rows from the top. A pixel's colour

// Where the render's time went, summed over all threads.
struct RenderTiming {
    double total_seconds = 0.0;  // wall clock of the whole render
    double thread_seconds = 0.0; // busy time of all render threads
    double shader_seconds = 0.0; // inside the shader, its probe rays included
    long long shading_calls = 0;
};

// Runs the shader's start-up calls, renders, and runs its exit calls. The
// time spent inside the shader is measured only when timing is given. The
// image is the same for any thread count: every pixel's samples, sample
// seeds and ray order depend on the pixel alone.
void render(const Scene& scene, const Plugin& plugin, Instance& instance,
            const RenderSettings& settings, Image& image, RenderTiming* timing = nullptr);

} // namespace preview
