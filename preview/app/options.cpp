#include "preview/app/options.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "preview/scene/surfaces.h"

#ifndef BENDLENS_VERSION
#define BENDLENS_VERSION "unknown"
#endif

namespace preview {
namespace {

// The shader interface version this host loads: what bendlens_version must
// return (load_plugin refuses any other).
constexpr int shader_interface_version = 1;

const char* const parameter_names[parameter_count] = {
    "method",    "measure",  "mapping",      "range_max", "range_min",
    "threshold", "contrast", "use_contrast", "samples",   "probe_scale"};

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

bool parse_boolean(const std::string& text, int32_t& value) {
    if (text == "1" || text == "on" || text == "true" || text == "yes") {
        value = 1;
        return true;
    }
    if (text == "0" || text == "off" || text == "false" || text == "no") {
        value = 0;
        return true;
    }
    return false;
}

std::string got(const std::string& text) {
    return ", got '" + text + "'";
}

// Each check below returns the reason a value is refused, empty when it is
// taken; the caller puts the option's name in front.
using Setter = std::function<std::string(const std::string&)>;

Setter whole_number(int& target, long long low, long long high) {
    return [&target, low, high](const std::string& text) {
        long long value = 0;
        if (!parse_int(text, low, high, value)) {
            return "must be a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + got(text);
        }
        target = int(value);
        return std::string();
    };
}

Setter finite_number(float& target) {
    return [&target](const std::string& text) {
        return parse_float(text, target) ? std::string() : "must be a finite number" + got(text);
    };
}

Setter number_between(float& target, float low, float high) {
    return [&target, low, high](const std::string& text) {
        float value = 0.0f;
        if (!parse_float(text, value) || value < low || value > high) {
            return "must be a number from " + number(low) + " to " + number(high) + got(text);
        }
        target = value;
        return std::string();
    };
}

// NAME=u or NAME=v, optionally followed by :LOW:HIGH.
std::string parse_connection(const std::string& text, Options& options) {
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
    Connection connection;
    const std::string source = rest.substr(0, rest.find(':'));
    if (source == "u") {
        connection.source = Connection::u;
    } else if (source == "v") {
        connection.source = Connection::v;
    } else {
        return "the source must be u or v" + got(source);
    }
    if (rest.size() > source.size()) {
        const std::string range = rest.substr(source.size() + 1);
        const size_t colon = range.find(':');
        if (colon == std::string::npos || !parse_float(range.substr(0, colon), connection.low) ||
            !parse_float(range.substr(colon + 1), connection.high)) {
            return "expected :LOW:HIGH with two finite numbers after '" + source + "'" + got(rest);
        }
    }
    options.connections[index] = connection;
    return "";
}

// AZIMUTH,ELEVATION in degrees; the elevation stops at the poles.
std::string parse_view(const std::string& text, View& view) {
    const size_t comma = text.find(',');
    float azimuth = 0.0f, elevation = 0.0f;
    if (comma == std::string::npos || !parse_float(text.substr(0, comma), azimuth) ||
        !parse_float(text.substr(comma + 1), elevation)) {
        return "expects AZIMUTH,ELEVATION, two finite numbers of degrees" + got(text);
    }
    if (elevation < -90.0f || elevation > 90.0f) {
        return "the elevation must be from -90 to 90 degrees" + got(text);
    }
    view.azimuth = azimuth;
    view.elevation = elevation;
    return "";
}

std::string parse_background(const std::string& text, ImageStyle& style) {
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

// The whole command line: every option's name, help text and check, so the
// parser and --help read one table. Values arrive as text and are checked
// here rather than by CLI11, so each refusal is one line that names its
// option, says what it takes and repeats what it got.
class CommandLine {
  public:
    explicit CommandLine(Options& options);

    CLI::App app{"Renders a curvature image with the bendlens shader plug-in, playing the\n"
                 "renderer's part: it loads the plug-in, ray casts the scene with Embree and\n"
                 "calls the shader at every hit.\n",
                 "bendlens-preview"};

    // Runs the checks of the options given, in the order they are listed;
    // a repeated option's last value wins (--connect: every value counts).
    bool apply(std::string& error);

  private:
    void value(const std::string& name, const std::string& shown, const std::string& group,
               const std::string& help, Setter set);

    struct Value {
        CLI::Option* option = nullptr;
        std::vector<std::string> texts;
        Setter set;
    };
    std::vector<std::unique_ptr<Value>> values_;
    Options& options_;
};

void CommandLine::value(const std::string& name, const std::string& shown, const std::string& group,
                        const std::string& help, Setter set) {
    auto entry = std::make_unique<Value>();
    entry->set = std::move(set);
    entry->option = app.add_option(name, entry->texts, help)
                        ->expected(1)
                        ->allow_extra_args(false)
                        ->take_all()
                        ->option_text(shown)
                        ->group(group);
    values_.push_back(std::move(entry));
}

CommandLine::CommandLine(Options& options) : options_(options) {
    Options& o = options;
    BendlensParameters& p = o.params;
    app.allow_extras(); // reported by apply() in the tool's own words
    app.set_help_flag("-h,--help", "print this help and exit");
    app.add_flag("--version", o.version, "print the version and exit");
    app.get_formatter()->column_width(28);

    const std::string scene = "Scene";
    value("--scene", "NAME", scene,
          "default (five surfaces side by side), or one\n"
          "of sphere, cylinder, torus, ellipsoid, saddle",
          [&o](const std::string& text) {
              SurfaceKind kind;
              if (text != "default" && !surface_from_name(text, kind)) {
                  return "must be default, sphere, cylinder, torus, ellipsoid or saddle" +
                         got(text);
              }
              o.scene = text;
              return std::string();
          });
    value("--mesh", "FILE", scene, "render the triangle mesh in FILE instead",
          [&o](const std::string& text) {
              o.mesh = text;
              return text.empty() ? std::string("needs a file name") : std::string();
          });
    value("--fit", "SIZE", scene,
          "scale the mesh so its largest extent is SIZE\n"
          "(default: keep the file's units; methods 1 and 2\n"
          "depend on scale)",
          [&o](const std::string& text) {
              if (!parse_float(text, o.fit) || !(o.fit > 0.0f)) {
                  return "must be a positive number" + got(text);
              }
              return std::string();
          });
    value("--tessellation", "N", scene, "segments around each built-in surface, 8-2048 (128)",
          whole_number(o.tessellation, 8, 2048));
    app.add_flag("--free-form", o.free_form,
                 "show the built-in surfaces as free-form surfaces:\n"
                 "no triangle data, so method 1 finds none")
        ->group(scene);
    value("--derivatives", "SOURCE", scene,
          "the surface derivatives hits hand the shader:\n"
          "exact (a built-in surface's own), estimated\n"
          "(fitted to the mesh around every vertex; a\n"
          "built-in surface is then shown as its mesh) or\n"
          "none (default: exact for built-in surfaces,\n"
          "estimated for meshes)",
          [&o](const std::string& text) {
              using D = Options::Derivatives;
              if (text == "exact") {
                  o.derivatives = D::exact;
              } else if (text == "estimated") {
                  o.derivatives = D::estimated;
              } else if (text == "none") {
                  o.derivatives = D::none;
              } else {
                  return "must be exact, estimated or none" + got(text);
              }
              return std::string();
          });
    value("--rings", "N", scene,
          "neighbourhood of the estimated derivatives, in\n"
          "rings of edges around each vertex, 1-8 (" +
              std::to_string(default_rings) +
              "):\n"
              "more rings smooth a noisy scan, fewer keep\n"
              "small detail",
          whole_number(o.rings, 1, 8));

    const std::string camera = "Camera (every model is framed from its bounds)";
    const View view;
    value("--view", "AZIMUTH,ELEVATION", camera,
          "degrees around the model's centre: azimuth turns\n"
          "the eye to the right about the up axis, elevation\n"
          "lifts it, -90 to 90 (" +
              number(view.azimuth) + "," + number(view.elevation) + ": the front)",
          [&o](const std::string& text) { return parse_view(text, o.view); });
    value("--up", "AXIS", camera, "the model's up axis: y or z (y)", [&o](const std::string& text) {
        if (text == "y") {
            o.view.up = View::Up::y;
        } else if (text == "z") {
            o.view.up = View::Up::z;
        } else {
            return "must be y or z" + got(text);
        }
        return std::string();
    });
    value("--fov", "DEGREES", camera, "vertical field of view, 1-170 (" + number(view.fov) + ")",
          number_between(o.view.fov, 1.0f, 170.0f));
    value("--turntable", "N", camera,
          "write N images around the model, 1-1000, the\n"
          "azimuth rising by 360/N degrees from --view's;\n"
          "named from --output: out-000.png, out-001.png...",
          whole_number(o.turntable, 1, 1000));

    const std::string shader = "Shader parameters (defaults of bendlens.mi)";
    const char* const help[parameter_count] = {
        "0 surface derivatives, 1 vertex normals,\n2 probe rays (0)",
        "0 mean, 1 Gaussian, 2 interpolated across the\ntriangle (0)",
        "0 two-sided (0.5 is flat), 1 positive side,\n2 negative side (0)",
        "curvature that maps to full output (1.0;\n"
        "without --range_max or --range_min, chosen by\n"
        "--auto-range)",
        "magnitude of the negative end of the range (1.0;\n"
        "chosen by --auto-range as for --range_max)",
        "dead zone of the one-sided mappings (0.0)",
        "middle value of the contrast curve (0.5)",
        "on/off: shape the value with the contrast curve\n(off)",
        "probe rays per shading sample, 0-4096 (16)",
        "inverse jitter radius and scale of the angle (1.0)"};
    for (int k = 0; k < parameter_count; ++k) {
        const char* shown = k <= 2 ? "N" : k == 7 ? "B" : "X";
        Setter set;
        if (k <= 2) {
            int32_t* field = k == 0 ? &p.method : k == 1 ? &p.measure : &p.mapping;
            set = [field](const std::string& text) {
                long long value = 0;
                if (!parse_int(text, 0, 2, value)) {
                    return "must be 0, 1 or 2" + got(text);
                }
                *field = int32_t(value);
                return std::string();
            };
        } else if (k == 7) {
            set = [&p](const std::string& text) {
                return parse_boolean(text, p.use_contrast) ? std::string()
                                                           : "must be on or off" + got(text);
            };
        } else if (k == 8) {
            set = number_between(p.samples, 0.0f, 4096.0f);
        } else {
            float* fields[] = {&p.range_max, &p.range_min, &p.threshold, &p.contrast};
            set = finite_number(k == 9 ? p.probe_scale : *fields[k - 3]);
        }
        value(std::string("--") + parameter_names[k], shown, shader, help[k], std::move(set));
    }
    value("--connect", "P=S[:LOW:HIGH]", shader,
          "drive parameter P by the hit's surface\n"
          "coordinate S (u or v, 0 to 1) mapped onto\n"
          "LOW..HIGH (0..1); repeatable",
          [&o](const std::string& text) { return parse_connection(text, o); });
    app.add_flag("--auto-range", o.auto_range,
                 "choose range_max and range_min from the 2nd and\n"
                 "98th percentiles of the measure in a quick first\n"
                 "render (one bound for both in the two-sided\n"
                 "mapping), print them and render with them; on\n"
                 "unless --range_max or --range_min is given")
        ->group(shader);

    const std::string image = "Image";
    value("--width", "N", image, "width in pixels, 1-16384 (640)", whole_number(o.width, 1, 16384));
    value("--height", "N", image, "height in pixels, 1-16384 (480); at most\n67108864 pixels",
          whole_number(o.height, 1, 16384));
    value("--spp", "N", image, "samples per pixel, 1-1024 (4)",
          whole_number(o.samples_per_pixel, 1, 1024));
    value("--threads", "N", image,
          "render threads, 0-1024 (0: every core; the image\nis the same for any count)",
          whole_number(o.threads, 0, 1024));
    value("--output", "FILE", image,
          ".png (8-bit, NaN in magenta) or .exr (32-bit\n"
          "float as the shader wrote it, with layers of the\n"
          "raw measure and k1, k2) (out.png)",
          [&o](const std::string& text) {
              o.output = text;
              return std::string();
          });
    value("--background", "COLOUR", image,
          "PNG background: slate, black, dark, grey, white,\n"
          "#rrggbb, or transparent for a PNG with alpha\n"
          "(slate, #26303d)",
          [&o](const std::string& text) { return parse_background(text, o.style); });
    value("--colormap", "NAME", image,
          "PNG colours: grey, or diverging (blue-white-red,\n"
          "white at 0.5, for the two-sided mapping) (grey)",
          [&o](const std::string& text) {
              if (text == "grey" || text == "gray") {
                  o.style.colormap = ImageStyle::Colormap::grey;
              } else if (text == "diverging") {
                  o.style.colormap = ImageStyle::Colormap::diverging;
              } else {
                  return "must be grey or diverging" + got(text);
              }
              return std::string();
          });
    app.add_flag("--legend", o.style.legend, "draw a bar with the range's end values on the PNG")
        ->group(image);

    const std::string other = "Other";
    value("--plugin", "FILE", other,
          "the shader library (bendlens.so beside the\n"
          "executable, or in the folder above it)",
          [&o](const std::string& text) {
              o.plugin = text;
              return text.empty() ? std::string("needs a file name") : std::string();
          });
    // --accuracy takes an optional count, so it is not a plain value.
    auto accuracy = std::make_unique<Value>();
    accuracy->set = [&o](const std::string& text) {
        o.accuracy = true;
        long long n = 0;
        if (text.empty()) {
            return std::string();
        }
        if (!parse_int(text, 10, 1000000, n)) {
            return "takes a point count from 10 to 1000000" + got(text);
        }
        o.accuracy_points = int(n);
        return std::string();
    };
    accuracy->option = app.add_option("--accuracy", accuracy->texts,
                                      "compare each method with the exact curvature of\n"
                                      "the built-in surfaces at N random points (2000),\n"
                                      "print a table and exit")
                           ->expected(0, 1)
                           ->allow_extra_args(false)
                           ->take_all()
                           ->option_text("[N]")
                           ->group(other);
    values_.push_back(std::move(accuracy));
    app.add_flag("--stats", o.stats,
                 "print the spread of the rendered values and the\ntime spent in the shader")
        ->group(other);

    app.footer("Examples:\n"
               "  bendlens-preview --output out/surfaces.png\n"
               "  bendlens-preview --mesh models/bunny.obj --view 30,20 --colormap diverging \\\n"
               "      --legend --auto-range --output out/bunny.png\n"
               "  bendlens-preview --mesh scan.ply --up z --turntable 12 --output out/scan.png\n");
}

bool CommandLine::apply(std::string& error) {
    if (!app.remaining().empty()) {
        const std::string first = app.remaining().front();
        if (first.size() > 1 && first[0] == '-') {
            error = first.substr(0, first.find('=')) + ": unknown option (see --help)";
        } else {
            error = first + ": unexpected argument; every value follows its option (see --help)";
        }
        return false;
    }
    for (const auto& entry : values_) {
        // An option given with no value (--accuracy) leaves one empty text.
        if (entry->option->count() > 0 && entry->texts.empty()) {
            entry->texts.emplace_back();
        }
        for (const std::string& text : entry->texts) {
            const std::string reason = entry->set(text);
            if (!reason.empty()) {
                error = entry->option->get_name() + ": " + reason;
                return false;
            }
        }
    }
    Options& o = options_;
    // The defaults of bendlens.mi (1 and 1) suit a model of about unit size
    // and saturate most others: unless the user sets an end of the range,
    // it is chosen from the measure.
    if (app.count("--range_max") == 0 && app.count("--range_min") == 0) {
        o.auto_range = true;
    }
    if (o.derivatives == Options::Derivatives::exact && !o.mesh.empty()) {
        error = "--derivatives: exact derivatives exist only for the built-in surfaces; a mesh "
                "takes estimated or none";
        return false;
    }
    // Four floats a pixel, and more for the measure: refuse what would not
    // fit in memory comfortably.
    if (double(o.width) * double(o.height) > double(1 << 26)) {
        error = "--width, --height: the image may have at most 67108864 pixels, got " +
                std::to_string(o.width) + " x " + std::to_string(o.height);
        return false;
    }
    if (!o.accuracy && !known_image_extension(o.output)) {
        error = "--output: the image must end in .png or .exr" + got(o.output);
        return false;
    }
    return true;
}

// CLI11 says what went wrong in its own words, sometimes over several lines;
// this keeps to one line and names the option where CLI11 did.
std::string one_line(const CLI::ParseError& failure) {
    std::string text = failure.what();
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    // "--height: 1 required TEXT missing" is CLI11's word for a value
    // missing at the end of the line.
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&failure) != nullptr &&
        text.find("required") != std::string::npos) {
        return text.substr(0, text.find(':')) + ": needs a value (see --help)";
    }
    // "Could not convert: --legend = maybe": a flag given a value it cannot read.
    const std::string conversion = "Could not convert: ";
    const size_t equals = text.find(" = ");
    if (text.rfind(conversion, 0) == 0 && equals != std::string::npos) {
        return text.substr(conversion.size(), equals - conversion.size()) + ": cannot read '" +
               text.substr(equals + 3) + "' (see --help)";
    }
    return text;
}

} // namespace

bool parse_options(int argc, const char* const* argv, Options& options, std::string& error) {
    CommandLine line(options);
    try {
        line.app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
        return true;
    } catch (const CLI::ParseError& failure) {
        error = one_line(failure);
        return false;
    }
    if (options.version) {
        return true;
    }
    return line.apply(error);
}

std::string usage_text() {
    Options options;
    CommandLine line(options);
    // CLI11 ends each group with a blank line and starts the next with
    // another; one is enough.
    std::string text = line.app.help();
    for (size_t at = text.find("\n\n\n"); at != std::string::npos; at = text.find("\n\n\n")) {
        text.erase(at, 1);
    }
    return text;
}

std::string version_text() {
    return "bendlens-preview " BENDLENS_VERSION "\nshader interface version " +
           std::to_string(shader_interface_version) +
           " (what the plug-in's bendlens_version must return)\n";
}

bool parse_colour(const std::string& text, float rgb[3]) {
    struct Named {
        const char* name;
        float value;
    };
    const Named greys[] = {
        {"black", 0.0f}, {"dark", 0.08f}, {"grey", 0.5f}, {"gray", 0.5f}, {"white", 1.0f}};
    for (const Named& grey : greys) {
        if (text == grey.name) {
            rgb[0] = rgb[1] = rgb[2] = grey.value;
            return true;
        }
    }
    if (text == "slate") {
        const ImageStyle defaults;
        for (int c = 0; c < 3; ++c) {
            rgb[c] = defaults.background[c];
        }
        return true;
    }
    if (text.size() != 7 || text[0] != '#') {
        return false;
    }
    float channels[3];
    for (int c = 0; c < 3; ++c) {
        unsigned value = 0;
        const char* begin = text.data() + 1 + 2 * c;
        const auto result = std::from_chars(begin, begin + 2, value, 16);
        if (result.ec != std::errc() || result.ptr != begin + 2) {
            return false;
        }
        channels[c] = float(value) / 255.0f;
    }
    for (int c = 0; c < 3; ++c) {
        rgb[c] = channels[c];
    }
    return true;
}

std::string turntable_name(const std::string& output, int index) {
    const size_t slash = output.rfind('/');
    size_t dot = output.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        dot = output.size();
    }
    char number_text[16];
    std::snprintf(number_text, sizeof number_text, "-%03d", index);
    return output.substr(0, dot) + number_text + output.substr(dot);
}

std::string plugin_beside_executable() {
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) {
        return "";
    }
    std::string folder(path.data(), size_t(length));
    // The executable's own folder, then its parent, where the build puts
    // bendlens.so beside the preview/ folder.
    for (int level = 0; level < 2; ++level) {
        const size_t slash = folder.rfind('/');
        if (slash == std::string::npos) {
            return "";
        }
        folder.resize(slash);
        const std::string candidate = folder + "/bendlens.so";
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            return candidate;
        }
    }
    return "";
}

} // namespace preview
