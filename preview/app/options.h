// The command line of bendlens-preview.
#pragma once

#include <string>
#include <vector>

#include "preview/host/host_state.h"
#include "preview/image/image_io.h"
#include "preview/render/render.h"

namespace preview {

// The sizes of model the preview renders, as the largest extent of its
// bounds (what --fit sets). Embree loses hits beyond about 3e13 and below
// about 1e-12 (the bunny, the dragon and the teapot at every power of ten
// against their render at size 1); these ends keep a margin to both.
constexpr double smallest_model = 1e-10;
constexpr double largest_model = 1e12;

struct Options {
    // The shader's ten parameters, with the defaults of bendlens.mi.
    BendlensParameters params{0, 0, 0, 1.0f, 1.0f, 0.0f, 0.5f, 0, 16.0f, 1.0f};
    Connection connections[parameter_count];
    std::string scene = "default"; // default, or one built-in surface by name
    std::string mesh;              // a mesh file instead of the built-in scene
    float fit = 0.0f;              // scale the mesh to this size (0: as it is)
    int tessellation = 128;
    bool free_form = false; // built-in surfaces offer no triangle data
    // Where hit derivatives come from: automatic is exact on the built-in
    // surfaces and estimated on a mesh.
    enum class Derivatives {
        automatic,
        exact,
        estimated,
        none
    } derivatives = Derivatives::automatic;
    int rings = default_rings; // neighbourhood of the curvature estimate
    View view;                 // --view, --up, --fov
    int turntable = 0;         // images around the model (0: one image)
    ImageStyle style;          // --background, --colormap, --legend
    bool auto_range = false;   // choose range_max and range_min from the measure
    int width = 640;
    int height = 480;
    int samples_per_pixel = 4;
    int threads = 0;
    std::string output = "out.png";
    // --bake: shade the model's texture space or its vertices instead of
    // rendering from a camera.
    enum class Bake { none, texture, vertices } bake = Bake::none;
    int bake_width = 2048; // --size
    int bake_height = 2048;
    int padding = 16;    // texels of edge padding around each UV island
    bool udim = false;   // texture coordinates beyond 0-1 bake into UDIM tiles
    std::string texture; // colour the model by this texture instead of the shader
    std::string plugin;  // empty: bendlens.so beside the executable (plugin_beside_executable)
    bool accuracy = false;
    int accuracy_points = 2000;
    bool stats = false;
    bool quiet = false; // no progress drawn
    bool help = false;
    bool version = false;
    // Options given together that the tool takes, but of which one has no
    // effect; each a line for the user, without the tool's prefix.
    std::vector<std::string> warnings;
};

// Parses argv; false with a one-line reason, "--option: what is wrong", on
// any unknown option, missing or malformed value, value out of range, or
// options that cannot go together. -h, --help and --version set help and
// version and are not errors.
bool parse_options(int argc, const char* const* argv, Options& options, std::string& error);

// The text --help prints, made from the same table the parser reads.
std::string usage_text();

// The text --version prints: the tool's version and the shader interface
// version it loads.
std::string version_text();

// A colour by name (black, dark, grey or gray, white) or as #rrggbb, each
// channel from 0 to 1 without gamma, as the PNG stores the values.
bool parse_colour(const std::string& text, float rgb[3]);

// The file name of image `index` of a turntable: out/name.png gives
// out/name-000.png, out/name-001.png and so on.
std::string turntable_name(const std::string& output, int index);

// The plug-in the build puts beside the tool: bendlens.so in the executable's
// own folder, else in its parent. Empty when neither exists.
std::string plugin_beside_executable();

} // namespace preview
