// Baking: the shader run at surface points the host builds from a mesh's
// texture space, as a texture bake in a renderer does, instead of at ray
// hits. Each point's state is built by the same step as a hit's
// (Scene::describe_point): point, shading and flat normals, barycentric
// weights, the triangle (method 1), the derivatives (method 0); method 2's
// probe rays are traced against the scene.
#pragma once

#include <string>
#include <vector>

#include "preview/host/host_state.h"
#include "preview/host/plugin.h"
#include "preview/image/image.h"
#include "preview/progress/progress.h"
#include "preview/render/uv_layout.h"
#include "preview/scene/scene.h"

namespace preview {

// The largest texture a bake writes, in texels a side.
constexpr int max_bake_size = 16384;

struct BakeSettings {
    int width = 2048;
    int height = 2048;
    // Samples a texel: one at its centre, or this many jittered inside it
    // (each on the triangle that holds it; see TexelCover::locate), averaged.
    int samples_per_texel = 4;
    int threads = 0;              // 0: every core
    Progress* progress = nullptr; // hears the bake as a step, row by row
    // As RenderSettings: read the raw measure, and k1 and k2, back at each
    // texel's first sample. With a measure stride n above 1 the measure is
    // read only at texels whose x and y are multiples of n, and is NaN
    // elsewhere: enough for the summary's percentiles at a fraction of the
    // cost (reading costs one to three shading calls).
    bool read_measure = false;
    int measure_stride = 1;
    bool read_principal = false;
};

// One tile of a texture bake. image holds, per covered texel, the mean of
// what the shader wrote at its samples and alpha 1, and the rest (0, 0, 0,
// 0); measure, k1 and k2 as a render's (Image). The edge padding is a step of
// its own (pad_image), after whatever reads the covered texels alone.
struct BakedTile {
    UvTile tile;
    Image image;
    long long covered = 0;    // texels whose centre a triangle holds
    long long overlapped = 0; // of them, those more than one triangle holds
};

// Bakes one tile of the texture space of the scene's first object, whose
// mesh must have texture coordinates that passed plan_tiles. Runs the
// shader's start-up and exit calls around it, as render() does for a frame.
// The result is the same for any thread count: every texel's samples and
// seeds depend on the texel alone.
void bake_tile(const Scene& scene, const Plugin& plugin, Instance& instance,
               const BakeSettings& settings, const UvTile& tile, BakedTile& baked);

// The measure stride (BakeSettings::measure_stride) that reads the measure
// at about 262144 texels of a width x height bake: enough for the
// percentiles of a summary line.
int summary_measure_stride(int width, int height);

// The file name of a UDIM tile: asset.png and tile 1001 give asset.1001.png.
std::string udim_name(const std::string& output, int number);

} // namespace preview
