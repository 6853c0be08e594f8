#include "preview/app/option_table.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "preview/render/bake.h"
#include "preview/scene/surfaces.h"

namespace preview {
namespace {

// ---- Reading values ----

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

bool parse_int(const std::string& text, long long low, long long high, long long& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() && value >= low &&
           value <= high;
}

bool parse_float(const std::string& text, float& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size() &&
           std::isfinite(value);
}

// Each reader below returns the reason a value is refused, empty when it is
// taken; the parser puts the option's name in front.

template <typename Integer>
std::string whole(const std::string& text, long long low, long long high, Integer& target) {
    long long value = 0;
    if (!parse_int(text, low, high, value)) {
        return "must be a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + got(text);
    }
    target = Integer(value);
    return "";
}

std::string finite(const std::string& text, float& target) {
    return parse_float(text, target) ? std::string() : "must be a finite number" + got(text);
}

std::string between(const std::string& text, float low, float high, float& target) {
    float value = 0.0f;
    if (!parse_float(text, value) || value < low || value > high) {
        return "must be a number from " + number(low) + " to " + number(high) + got(text);
    }
    target = value;
    return "";
}

std::string choice(const std::string& text, int32_t& target) {
    long long value = 0;
    if (!parse_int(text, 0, 2, value)) {
        return "must be 0, 1 or 2" + got(text);
    }
    target = int32_t(value);
    return "";
}

std::string on_off(const std::string& text, int32_t& target) {
    if (text == "1" || text == "on" || text == "true" || text == "yes") {
        target = 1;
    } else if (text == "0" || text == "off" || text == "false" || text == "no") {
        target = 0;
    } else {
        return "must be on or off" + got(text);
    }
    return "";
}

std::string flag(const std::string& text, bool& target) {
    target = text == "on";
    return "";
}

std::string file_name(const std::string& text, std::string& target) {
    target = text;
    return text.empty() ? "needs a file name" : "";
}

// NAME=u or NAME=v, optionally followed by :LOW:HIGH.
std::string connection(const std::string& text, Options& options) {
    const size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    int index = -1;
    for (int k = 0; k < parameter_count; ++k) {
        if (name == parameter_names[k]) {
            index = k;
        }
    }
    if (index < 0 || equals == std::string::npos) {
        return "expects PARAMETER=u or PARAMETER=v[:LOW:HIGH]" + got(text);
    }
    const std::string rest = text.substr(equals + 1);
    Connection made;
    const std::string source = rest.substr(0, rest.find(':'));
    if (source == "u") {
        made.source = Connection::u;
    } else if (source == "v") {
        made.source = Connection::v;
    } else {
        return "the source must be u or v" + got(source);
    }
    if (rest.size() > source.size()) {
        const std::string range = rest.substr(source.size() + 1);
        const size_t colon = range.find(':');
        if (colon == std::string::npos || !parse_float(range.substr(0, colon), made.low) ||
            !parse_float(range.substr(colon + 1), made.high)) {
            return "expected :LOW:HIGH with two finite numbers after '" + source + "'" + got(rest);
        }
    }
    options.connections[index] = made;
    return "";
}

// AZIMUTH,ELEVATION in degrees; the elevation stops at the poles.
std::string view(const std::string& text, View& target) {
    const size_t comma = text.find(',');
    float azimuth = 0.0f, elevation = 0.0f;
    if (comma == std::string::npos || !parse_float(text.substr(0, comma), azimuth) ||
        !parse_float(text.substr(comma + 1), elevation)) {
        return "expects AZIMUTH,ELEVATION, two finite numbers of degrees" + got(text);
    }
    if (elevation < -90.0f || elevation > 90.0f) {
        return "the elevation must be from -90 to 90 degrees" + got(text);
    }
    target.azimuth = azimuth;
    target.elevation = elevation;
    return "";
}

std::string background(const std::string& text, ImageStyle& style) {
    if (text == "transparent") {
        style.transparent = true;
        return "";
    }
    if (!parse_colour(text, style.background)) {
        return "must be slate, black, dark, grey, white, #rrggbb or transparent" + got(text);
    }
    style.transparent = false;
    return "";
}

std::string scene(const std::string& text, std::string& target) {
    SurfaceKind kind;
    if (text != "default" && !surface_from_name(text, kind)) {
        return "must be default, sphere, cylinder, torus, ellipsoid or saddle" + got(text);
    }
    target = text;
    return "";
}

std::string derivatives(const std::string& text, Options::Derivatives& target) {
    using D = Options::Derivatives;
    if (text == "exact") {
        target = D::exact;
    } else if (text == "estimated") {
        target = D::estimated;
    } else if (text == "none") {
        target = D::none;
    } else {
        return "must be exact, estimated or none" + got(text);
    }
    return "";
}

std::string up_axis(const std::string& text, View::Up& target) {
    if (text == "y") {
        target = View::Up::y;
    } else if (text == "z") {
        target = View::Up::z;
    } else {
        return "must be y or z" + got(text);
    }
    return "";
}

std::string colormap(const std::string& text, Colormap& target) {
    if (text == "grey" || text == "gray") {
        target = Colormap::grey;
    } else if (text == "diverging") {
        target = Colormap::diverging;
    } else {
        return "must be grey or diverging" + got(text);
    }
    return "";
}

std::string bake(const std::string& text, Options::Bake& target) {
    if (text == "texture") {
        target = Options::Bake::texture;
    } else if (text == "vertices") {
        target = Options::Bake::vertices;
    } else {
        return "must be texture or vertices" + got(text);
    }
    return "";
}

// N for a square texture, or W,H.
std::string texture_size(const std::string& text, Options& o) {
    const size_t comma = text.find(',');
    long long width = 0, height = 0;
    const bool square = comma == std::string::npos;
    if (!parse_int(text.substr(0, comma), 1, max_bake_size, width) ||
        !(square || parse_int(text.substr(comma + 1), 1, max_bake_size, height))) {
        return "must be N or W,H, whole numbers of texels from 1 to " +
               std::to_string(max_bake_size) + got(text);
    }
    o.bake_width = int(width);
    o.bake_height = int(square ? width : height);
    return "";
}

std::string depth(const std::string& text, int& target) {
    if (text != "8" && text != "16") {
        return "must be 8 or 16" + got(text);
    }
    target = text == "8" ? 8 : 16;
    return "";
}

std::string accuracy(const std::string& text, Options& o) {
    o.accuracy = true;
    if (text.empty()) {
        return "";
    }
    long long n = 0;
    if (!parse_int(text, 10, 1000000, n)) {
        return "takes a point count from 10 to 1000000" + got(text);
    }
    o.accuracy_points = int(n);
    return "";
}

// ---- The rows ----

// The defaults the help text quotes.
std::string view_default() {
    const View defaults;
    char text[32];
    std::snprintf(text, sizeof text, "%g,%.3g", double(defaults.azimuth),
                  double(defaults.elevation));
    return text;
}

std::vector<OptionRow> make_table() {
    using O = Options;
    const std::string scene_group = "Scene";
    const std::string camera = "Camera (every model is framed from its bounds)";
    const std::string shader = "Shader parameters (defaults of bendlens.mi)";
    const std::string image = "Image";
    const std::string baking = "Bake (the model's texture space or vertices instead of a camera)";
    const std::string other = "Other";
    const View defaults;
    return {
        {"--scene", "NAME", scene_group,
         "default (five surfaces side by side), or one of sphere, cylinder, torus, ellipsoid, "
         "saddle; not with --mesh",
         [](O& o, const std::string& t) { return scene(t, o.scene); }},
        {"--mesh", "FILE", scene_group, "render the triangle mesh in FILE instead",
         [](O& o, const std::string& t) { return file_name(t, o.mesh); }},
        {"--fit", "SIZE", scene_group,
         "scale the mesh so its largest extent is SIZE, " + number(smallest_model) + " to " +
             number(largest_model) +
             " (default: keep the file's units, which must lie in that range; methods 1 and 2 "
             "depend on scale); only with --mesh",
         [](O& o, const std::string& t) {
             return between(t, float(smallest_model), float(largest_model), o.fit);
         }},
        {"--tessellation", "N", scene_group, "segments around each built-in surface, 8-2048 (128)",
         [](O& o, const std::string& t) { return whole(t, 8, 2048, o.tessellation); }},
        {"--free-form", "", scene_group,
         "show the built-in surfaces as free-form surfaces: no triangle data, so method 1 finds "
         "none",
         [](O& o, const std::string& t) { return flag(t, o.free_form); }},
        {"--derivatives", "SOURCE", scene_group,
         "the surface derivatives hits hand the shader: exact (a built-in surface's own), "
         "estimated (fitted to the mesh around every vertex; a built-in surface is then shown as "
         "its mesh) or none (default: exact for built-in surfaces, estimated for meshes)",
         [](O& o, const std::string& t) { return derivatives(t, o.derivatives); }},
        {"--rings", "N", scene_group,
         "neighbourhood of the estimated derivatives, in rings of edges around each vertex, 0-8 "
         "(" +
             std::to_string(default_rings) +
             "): 0 chooses it per vertex, from the mesh's fineness and its normals; more rings "
             "smooth a noisy scan, fewer keep small detail",
         [](O& o, const std::string& t) { return whole(t, 0, max_rings, o.rings); }},

        {"--view", "AZIMUTH,ELEVATION", camera,
         "degrees around the model's centre: azimuth turns the eye to the right about the up "
         "axis, elevation lifts it, -90 to 90 (" +
             view_default() + ": the front)",
         [](O& o, const std::string& t) { return view(t, o.view); }},
        {"--up", "AXIS", camera, "the model's up axis: y or z (y)",
         [](O& o, const std::string& t) { return up_axis(t, o.view.up); }},
        {"--fov", "DEGREES", camera, "vertical field of view, 1-170 (" + number(defaults.fov) + ")",
         [](O& o, const std::string& t) { return between(t, 1.0f, 170.0f, o.view.fov); }},
        {"--turntable", "N", camera,
         "write N images around the model, 1-1000, the azimuth rising by 360/N degrees from "
         "--view's, the eye at one distance in all; named from --output: out-000.png, "
         "out-001.png...",
         [](O& o, const std::string& t) { return whole(t, 1, 1000, o.turntable); }},

        {"--method", "N", shader, "0 surface derivatives, 1 vertex normals, 2 probe rays (0)",
         [](O& o, const std::string& t) { return choice(t, o.params.method); }},
        {"--measure", "N", shader, "0 mean, 1 Gaussian, 2 interpolated across the triangle (0)",
         [](O& o, const std::string& t) { return choice(t, o.params.measure); }},
        {"--mapping", "N", shader,
         "0 two-sided (0.5 is flat), 1 positive side, 2 negative side (0)",
         [](O& o, const std::string& t) { return choice(t, o.params.mapping); }},
        {"--range_max", "X", shader,
         "curvature that maps to full output (1.0; without --range_max or --range_min, chosen "
         "by --auto-range)",
         [](O& o, const std::string& t) { return finite(t, o.params.range_max); }},
        {"--range_min", "X", shader,
         "magnitude of the negative end of the range (1.0; chosen by --auto-range as for "
         "--range_max)",
         [](O& o, const std::string& t) { return finite(t, o.params.range_min); }},
        {"--threshold", "X", shader, "dead zone of the one-sided mappings (0.0)",
         [](O& o, const std::string& t) { return finite(t, o.params.threshold); }},
        {"--contrast", "X", shader, "middle value of the contrast curve (0.5)",
         [](O& o, const std::string& t) { return finite(t, o.params.contrast); }},
        {"--use_contrast", "B", shader, "on/off: shape the value with the contrast curve (off)",
         [](O& o, const std::string& t) { return on_off(t, o.params.use_contrast); }},
        {"--samples", "X", shader, "probe rays per shading sample, 0-4096 (16)",
         [](O& o, const std::string& t) { return between(t, 0.0f, 4096.0f, o.params.samples); }},
        {"--probe_scale", "X", shader, "inverse jitter radius and scale of the angle (1.0)",
         [](O& o, const std::string& t) { return finite(t, o.params.probe_scale); }},
        {"--connect", "P=S[:LOW:HIGH]", shader,
         "drive parameter P by the hit's surface coordinate S (u or v, 0 to 1) mapped onto "
         "LOW..HIGH (0..1); repeatable",
         [](O& o, const std::string& t) { return connection(t, o); }},
        {"--auto-range", "", shader,
         "choose range_max and range_min from the 2nd and 98th percentiles of the measure in a "
         "quick first render (one bound for both in the two-sided mapping), print them and "
         "render with them; on unless --range_max or --range_min is given, and refused with "
         "them",
         [](O& o, const std::string& t) { return flag(t, o.auto_range); }},

        {"--width", "N", image, "width in pixels, 1-16384 (640)",
         [](O& o, const std::string& t) { return whole(t, 1, 16384, o.width); }},
        {"--height", "N", image, "height in pixels, 1-16384 (480); at most 67108864 pixels",
         [](O& o, const std::string& t) { return whole(t, 1, 16384, o.height); }},
        {"--spp", "N", image, "samples per pixel, or per texel of a bake, 1-1024 (4)",
         [](O& o, const std::string& t) { return whole(t, 1, 1024, o.samples_per_pixel); }},
        {"--threads", "N", image,
         "render threads, 0-1024 (0: every core; the image is the same for any count)",
         [](O& o, const std::string& t) { return whole(t, 0, 1024, o.threads); }},
        {"--output", "FILE", image,
         ".png (8-bit, NaN in magenta) or .exr (32-bit float as the shader wrote it, with "
         "layers of the raw measure and k1, k2) (out.png); .ply for a vertex bake",
         [](O& o, const std::string& t) {
             o.output = t;
             return std::string();
         }},
        {"--background", "COLOUR", image,
         "PNG background: slate, black, dark, grey, white, #rrggbb, or transparent for a PNG "
         "with alpha (slate, #26303d)",
         [](O& o, const std::string& t) { return background(t, o.style); }},
        {"--colormap", "NAME", image,
         "PNG colours: grey, or diverging (blue-white-red, white at 0.5, for the two-sided "
         "mapping) (grey)",
         [](O& o, const std::string& t) { return colormap(t, o.style.colormap); }},
        {"--legend", "", image, "draw a bar with the range's end values on the PNG (not the EXR)",
         [](O& o, const std::string& t) { return flag(t, o.style.legend); }},
        {"--depth", "BITS", image, "bits per PNG sample: 8 or 16 (8)",
         [](O& o, const std::string& t) { return depth(t, o.style.depth); }},
        {"--texture", "FILE", image,
         "colour the model by the texture in FILE (.png or .exr, a bake's output) through its "
         "texture coordinates, bilinear, instead of calling the shader",
         [](O& o, const std::string& t) { return file_name(t, o.texture); }},

        {"--bake", "WHAT", baking,
         "texture: shade every texel of the mesh's texture space and write the map to --output "
         "(.png with alpha, or .exr with the raw layers); vertices: shade every vertex of the "
         "welded mesh and write a PLY (--output .ply) with k1, k2, mean, gaussian and the "
         "colour per vertex",
         [](O& o, const std::string& t) { return bake(t, o.bake); }},
        {"--size", "N|W,H", baking,
         "texels of a texture bake, 1-16384 a side (2048); --spp samples a texel, one at its "
         "centre with --spp 1",
         [](O& o, const std::string& t) { return texture_size(t, o); }},
        {"--padding", "N", baking,
         "texels of edge padding around each UV island, from the nearest covered texel, "
         "0-1024 (16)",
         [](O& o, const std::string& t) { return whole(t, 0, 1024, o.padding); }},
        {"--udim", "", baking,
         "bake texture coordinates beyond the 0-1 square into UDIM tiles, one file each: "
         "out.1001.png, out.1002.png... (1001 + u + 10 v)",
         [](O& o, const std::string& t) { return flag(t, o.udim); }},

        {"--plugin", "FILE", other,
         "the shader library (bendlens.so beside the executable, or in the folder above it)",
         [](O& o, const std::string& t) { return file_name(t, o.plugin); }},
        {"--accuracy", "[N]", other,
         "compare each method with the exact curvature of the built-in surfaces at N random "
         "points (2000), print a table and exit",
         [](O& o, const std::string& t) { return accuracy(t, o); }},
        {"--stats", "", other,
         "print the spread of the rendered values, the time spent in the shader, the time "
         "of each step (read, weld, BVH, curvature, render, write) and how many vertices "
         "the hits had fitted",
         [](O& o, const std::string& t) { return flag(t, o.stats); }},
        {"--quiet", "", other,
         "draw no progress on the terminal (a step that runs over half a second shows a bar "
         "on standard error when it is a terminal)",
         [](O& o, const std::string& t) { return flag(t, o.quiet); }},
    };
}

} // namespace

std::string got(const std::string& text) {
    return ", got '" + text + "'";
}

const std::vector<OptionRow>& option_table() {
    static const std::vector<OptionRow> table = make_table();
    return table;
}

} // namespace preview
