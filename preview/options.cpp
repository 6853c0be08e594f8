#include "preview/options.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "preview/surfaces.h"

namespace preview {
namespace {

const char* const parameter_names[parameter_count] = {
    "method",    "measure",  "mapping",      "range_max", "range_min",
    "threshold", "contrast", "use_contrast", "samples",   "probe_scale"};

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

// NAME=u or NAME=v, optionally followed by :LOW:HIGH.
bool parse_connection(const std::string& text, Options& options, std::string& error) {
    const size_t equals = text.find('=');
    const std::string name = text.substr(0, equals);
    int index = -1;
    for (int k = 0; k < parameter_count; ++k) {
        if (name == parameter_names[k]) {
            index = k;
        }
    }
    if (index < 0 || equals == std::string::npos) {
        error = "--connect expects PARAMETER=u or PARAMETER=v[:LOW:HIGH], got '" + text + "'";
        return false;
    }
    const std::string rest = text.substr(equals + 1);
    Connection connection;
    const std::string source = rest.substr(0, rest.find(':'));
    if (source == "u") {
        connection.source = Connection::u;
    } else if (source == "v") {
        connection.source = Connection::v;
    } else {
        error = "--connect: the source must be u or v, got '" + source + "'";
        return false;
    }
    if (rest.size() > source.size()) {
        const std::string range = rest.substr(source.size() + 1);
        const size_t colon = range.find(':');
        if (colon == std::string::npos || !parse_float(range.substr(0, colon), connection.low) ||
            !parse_float(range.substr(colon + 1), connection.high)) {
            error = "--connect: expected :LOW:HIGH with two finite numbers after '" + source +
                    "', got '" + rest + "'";
            return false;
        }
    }
    options.connections[index] = connection;
    return true;
}

bool set_parameter(int k, const std::string& value, Options& options, std::string& error) {
    BendlensParameters& p = options.params;
    long long whole = 0;
    bool ok = true;
    std::string allowed;
    switch (k) {
    case 0:
    case 1:
    case 2:
        ok = parse_int(value, 0, 2, whole);
        allowed = "0, 1 or 2";
        if (ok) {
            (k == 0 ? p.method : k == 1 ? p.measure : p.mapping) = int32_t(whole);
        }
        break;
    case 7:
        ok = parse_boolean(value, p.use_contrast);
        allowed = "on or off";
        break;
    case 8:
        ok = parse_float(value, p.samples) && p.samples >= 0.0f && p.samples <= 4096.0f;
        allowed = "a number from 0 to 4096";
        break;
    default: {
        float* fields[] = {&p.range_max, &p.range_min, &p.threshold, &p.contrast};
        float* probe = &p.probe_scale;
        float* target = k == 9 ? probe : fields[k - 3];
        ok = parse_float(value, *target);
        allowed = "a finite number";
        break;
    }
    }
    if (!ok) {
        error = std::string("--") + parameter_names[k] + " must be " + allowed + ", got '" + value +
                "'";
    }
    return ok;
}

} // namespace

const char* usage_text() {
    return R"(Usage: bendlens-preview [options]

Renders a curvature image with the bendlens shader plug-in, playing the
renderer's part: it loads the plug-in, ray casts the scene with Embree and
calls the shader at every hit.

Scene:
  --scene NAME        default (five surfaces side by side), or one of
                      sphere, cylinder, torus, ellipsoid, saddle
  --mesh FILE         render a triangle mesh (.obj or .ply) instead
  --fit SIZE          scale the mesh so its largest extent is SIZE (default:
                      keep the file's units; methods 1 and 2 depend on scale)
  --tessellation N    segments around each built-in surface (8-2048, 128)
  --free-form         show the built-in surfaces as free-form surfaces: they
                      offer no triangle data, so method 1 finds none

Shader parameters (defaults of bendlens.mi):
  --method N          0 surface derivatives, 1 vertex normals, 2 probe rays (0)
  --measure N         0 mean, 1 Gaussian, 2 interpolated across the triangle (0)
  --mapping N         0 two-sided (0.5 is flat), 1 positive, 2 negative (0)
  --range_max X       curvature that maps to full output (1.0)
  --range_min X       magnitude of the negative end of the range (1.0)
  --threshold X       dead zone of the one-sided mappings (0.0)
  --contrast X        middle value of the contrast curve (0.5)
  --use_contrast B    on/off: shape the value with the contrast curve (off)
  --samples X         probe rays per shading sample, 0-4096 (16)
  --probe_scale X     inverse jitter radius and scale of the angle (1.0)
  --connect P=S[:LOW:HIGH]
                      drive parameter P by the hit's surface coordinate S
                      (u or v, 0 to 1) mapped onto LOW..HIGH (0..1); repeatable

Image:
  --width N, --height N   size in pixels (1-16384; 640 x 480)
  --spp N             samples per pixel (1-1024; 4)
  --threads N         render threads (0: every core; the image is the same
                      for any count)
  --output FILE       .png (8-bit, clamped, NaN in magenta) or .exr (32-bit
                      float, as the shader wrote it); default out.png
  --plugin FILE       the shader library (build/release/bendlens.so)

Other:
  --accuracy [N]      compare each method with the exact curvature of the
                      built-in surfaces at N random points (2000), print a
                      table and exit
  --stats             print the spread of the rendered values (to choose
                      range_max) and the time spent in the shader
  --help              this text

Example:
  bendlens-preview --plugin build/release/bendlens.so --method 2 \
      --mapping 1 --range_max 2 --output out/probes.png
)";
}

bool parse_options(int argc, const char* const* argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::string value;
        bool has_value = false;
        if (name.rfind("--", 0) != 0) {
            error = "unexpected argument '" + name + "' (see --help)";
            return false;
        }
        const size_t equals = name.find('=');
        if (equals != std::string::npos && name.rfind("--connect", 0) != 0) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            has_value = true;
        }
        name = name.substr(2);
        if (name == "help") {
            options.help = true;
            continue;
        }
        if (name == "free-form") {
            options.free_form = true;
            continue;
        }
        if (name == "stats") {
            options.stats = true;
            continue;
        }
        if (name == "accuracy") {
            options.accuracy = true;
            // An optional count follows.
            if (!has_value && i + 1 < argc && argv[i + 1][0] != '-') {
                value = argv[++i];
                has_value = true;
            }
            long long n = 0;
            if (has_value) {
                if (!parse_int(value, 10, 1000000, n)) {
                    error =
                        "--accuracy takes a point count from 10 to 1000000, got '" + value + "'";
                    return false;
                }
                options.accuracy_points = int(n);
            }
            continue;
        }
        if (name.rfind("connect", 0) == 0 && name.size() > 7 && name[7] == '=') {
            value = name.substr(8);
            name = "connect";
            has_value = true;
        }
        if (!has_value) {
            if (i + 1 >= argc) {
                error = "--" + name + " needs a value (see --help)";
                return false;
            }
            value = argv[++i];
        }
        bool matched = false;
        for (int k = 0; k < parameter_count; ++k) {
            if (name == parameter_names[k]) {
                if (!set_parameter(k, value, options, error)) {
                    return false;
                }
                matched = true;
            }
        }
        if (matched) {
            continue;
        }
        long long n = 0;
        auto need_int = [&](long long low, long long high, int& target) {
            if (!parse_int(value, low, high, n)) {
                error = "--" + name + " must be a whole number from " + std::to_string(low) +
                        " to " + std::to_string(high) + ", got '" + value + "'";
                return false;
            }
            target = int(n);
            return true;
        };
        if (name == "connect") {
            if (!parse_connection(value, options, error)) {
                return false;
            }
        } else if (name == "scene") {
            SurfaceKind kind;
            if (value != "default" && !surface_from_name(value, kind)) {
                error = "--scene must be default, sphere, cylinder, torus, ellipsoid or saddle, "
                        "got '" +
                        value + "'";
                return false;
            }
            options.scene = value;
        } else if (name == "mesh") {
            options.mesh = value;
        } else if (name == "fit") {
            if (!parse_float(value, options.fit) || !(options.fit > 0.0f)) {
                error = "--fit must be a positive number, got '" + value + "'";
                return false;
            }
        } else if (name == "tessellation") {
            if (!need_int(8, 2048, options.tessellation)) {
                return false;
            }
        } else if (name == "width") {
            if (!need_int(1, 16384, options.width)) {
                return false;
            }
        } else if (name == "height") {
            if (!need_int(1, 16384, options.height)) {
                return false;
            }
        } else if (name == "spp") {
            if (!need_int(1, 1024, options.samples_per_pixel)) {
                return false;
            }
        } else if (name == "threads") {
            if (!need_int(0, 1024, options.threads)) {
                return false;
            }
        } else if (name == "output") {
            options.output = value;
        } else if (name == "plugin") {
            options.plugin = value;
        } else {
            error = "unknown option --" + name + " (see --help)";
            return false;
        }
    }
    // Four floats a pixel: refuse what would not fit in memory comfortably.
    if (double(options.width) * double(options.height) > double(1 << 26)) {
        error = "the image is too large: width x height may be at most 67108864 pixels";
        return false;
    }
    return true;
}

} // namespace preview
