#include "preview/app/options.h"

#include <CLI/CLI.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <vector>

#include "preview/app/option_table.h"

#ifndef BENDLENS_VERSION
#define BENDLENS_VERSION "unknown"
#endif

namespace preview {
namespace {

// The shader interface version this host loads: what bendlens_version must
// return (load_plugin refuses any other).
constexpr int shader_interface_version = 1;

// The width of --help's text column.
constexpr size_t help_width = 50;

// A paragraph broken into lines of at most `width` characters at spaces.
std::string wrapped(const std::string& text, size_t width) {
    std::string out, line;
    size_t at = 0;
    while (at < text.size()) {
        const size_t space = text.find(' ', at);
        const std::string word = text.substr(at, space == std::string::npos ? space : space - at);
        at = space == std::string::npos ? text.size() : space + 1;
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

// The table's rows handed to CLI11, which splits the command line; every
// value arrives as text and is read by its row rather than by CLI11, so each
// refusal is one line that names its option, says what it takes and repeats
// what it got.
struct CommandLine {
    struct Given {
        const OptionRow* row = nullptr;
        CLI::Option* option = nullptr;
        std::vector<std::string> texts; // an option's values
        bool on = false;                // a flag's value
    };

    CLI::App app{"Renders a curvature image with the bendlens shader plug-in, playing the\n"
                 "renderer's part: it loads the plug-in, ray casts the scene with Embree and\n"
                 "calls the shader at every hit.\n",
                 "bendlens-preview"};
    std::vector<std::unique_ptr<Given>> given;
    bool version = false;

    CommandLine() {
        app.allow_extras(); // reported by read_values() in the tool's own words
        app.set_help_flag("-h,--help", "print this help and exit");
        app.add_flag("--version", version, "print the version and exit");
        app.get_formatter()->column_width(28);
        for (const OptionRow& row : option_table()) {
            auto entry = std::make_unique<Given>();
            entry->row = &row;
            const std::string help = wrapped(row.help, help_width);
            if (row.value.empty()) {
                entry->option = app.add_flag(row.name, entry->on, help);
            } else {
                const bool optional = row.value.front() == '[';
                entry->option = app.add_option(row.name, entry->texts, help)
                                    ->expected(optional ? 0 : 1, 1)
                                    ->allow_extra_args(false)
                                    ->take_all()
                                    ->option_text(row.value);
            }
            entry->option->group(row.group);
            given.push_back(std::move(entry));
        }
        app.footer(
            "Examples:\n"
            "  bendlens-preview --output out/surfaces.png\n"
            "  bendlens-preview --mesh models/bunny.obj --view 30,20 --colormap diverging \\\n"
            "      --legend --auto-range --output out/bunny.png\n"
            "  bendlens-preview --mesh scan.ply --up z --turntable 12 --output out/scan.png\n"
            "  bendlens-preview --mesh asset.obj --bake texture --output asset_curvature.png\n");
    }

    // Reads the options given, in the table's order; a repeated option's
    // last value wins (--connect: every value counts).
    bool read_values(Options& options, std::string& error) {
        if (!app.remaining().empty()) {
            const std::string first = app.remaining().front();
            if (first.size() > 1 && first[0] == '-') {
                error = first.substr(0, first.find('=')) + ": unknown option (see --help)";
            } else {
                error =
                    first + ": unexpected argument; every value follows its option (see --help)";
            }
            return false;
        }
        for (const auto& entry : given) {
            if (entry->option->count() == 0) {
                continue;
            }
            std::vector<std::string> texts = entry->texts;
            if (entry->row->value.empty()) {
                texts = {entry->on ? "on" : "off"};
            } else if (texts.empty()) {
                texts.emplace_back(); // an optional value left out
            }
            for (const std::string& text : texts) {
                const std::string reason = entry->row->read(options, text);
                if (!reason.empty()) {
                    error = entry->row->name + ": " + reason;
                    return false;
                }
            }
        }
        return true;
    }
};

// The first of `names` given on the command line, or "".
std::string first_given(const CLI::App& app, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (app.count(name) > 0) {
            return name;
        }
    }
    return "";
}

// Options that have no effect beside others: refused where the user would
// otherwise get something other than asked for, and a warning where the
// image is still what was asked.
bool check_effects(const CLI::App& app, Options& o, std::string& error) {
    const std::string surface_option =
        first_given(app, {"--scene", "--tessellation", "--free-form"});
    if (!o.mesh.empty() && !surface_option.empty() && !o.accuracy) {
        error = surface_option + ": applies to the built-in surfaces, not to --mesh; give one "
                                 "or the other";
        return false;
    }
    if (o.mesh.empty() && app.count("--fit") > 0) {
        error = "--fit: scales the --mesh; the built-in surfaces keep their size";
        return false;
    }
    if (o.accuracy && (!o.mesh.empty() || app.count("--scene") > 0)) {
        error = "--accuracy: measures on every built-in surface and takes no --mesh or --scene";
        return false;
    }
    if (!o.accuracy && is_exr_path(o.output)) {
        for (const char* name : {"--legend", "--colormap", "--background"}) {
            if (app.count(name) > 0) {
                o.warnings.push_back(std::string(name) +
                                     ": shapes the PNG only; the EXR holds the values as the "
                                     "shader wrote them, without it");
            }
        }
    }
    return true;
}

bool ends_with_ply(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return false;
    }
    std::string extension = path.substr(dot + 1);
    for (char& c : extension) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == "ply";
}

// The bake's options and --texture against the rest.
bool check_bake(const CLI::App& app, Options& o, std::string& error) {
    using Bake = Options::Bake;
    const bool texture_bake = o.bake == Bake::texture;
    for (const char* option : {"--size", "--padding", "--udim"}) {
        if (app.count(option) > 0 && !texture_bake) {
            error = std::string(option) + ": applies to a texture bake; give --bake texture";
            return false;
        }
    }
    if (o.style.depth == 16 && is_exr_path(o.output) && o.bake != Bake::vertices) {
        error = "--depth: sets the bits of a PNG; an EXR always holds 32-bit floats";
        return false;
    }
    if (!o.texture.empty() && o.bake != Bake::none) {
        error = "--texture: colours a render by a texture; it cannot go with --bake";
        return false;
    }
    if (o.bake == Bake::none) {
        return true;
    }
    if (o.turntable > 0) {
        error = "--bake: bakes one map of the model, not a turntable; leave out --turntable";
        return false;
    }
    if (o.mesh.empty() && o.scene == "default") {
        error = "--bake: bakes one model: give --mesh FILE, or --scene with one built-in surface";
        return false;
    }
    if (o.style.legend) {
        error = "--legend: draws on a rendered image, not on a baked map";
        return false;
    }
    if (o.bake == Bake::vertices && !ends_with_ply(o.output)) {
        error = "--output: a vertex bake writes a PLY mesh, ending in .ply" + got(o.output);
        return false;
    }
    return true;
}

// What the options given ask for together: the choices one option makes for
// another, and the combinations refused.
bool check_together(const CLI::App& app, Options& o, std::string& error) {
    const std::string range_given = first_given(app, {"--range_max", "--range_min"});
    // The defaults of bendlens.mi (1 and 1) suit a model of about unit size
    // and saturate most others: unless the user sets an end of the range,
    // it is chosen from the measure. Both at once would leave one of them
    // silently unused.
    if (range_given.empty()) {
        // A textured render calls no shader, so it has no measure to choose from.
        if (o.texture.empty()) {
            o.auto_range = true;
        }
    } else if (o.auto_range) {
        error = "--auto-range: chooses the range itself and cannot go with " + range_given +
                "; give one or the other";
        return false;
    }
    if (o.derivatives == Options::Derivatives::exact && !o.mesh.empty()) {
        error = "--derivatives: exact derivatives exist only for the built-in surfaces; a mesh "
                "takes estimated or none";
        return false;
    }
    if (!check_effects(app, o, error)) {
        return false;
    }
    // Four floats a pixel, and more for the measure: refuse what would not
    // fit in memory comfortably.
    if (double(o.width) * double(o.height) > double(1 << 26)) {
        error = "--width, --height: the image may have at most 67108864 pixels, got " +
                std::to_string(o.width) + " x " + std::to_string(o.height);
        return false;
    }
    if (!o.accuracy && o.bake != Options::Bake::vertices && !known_image_extension(o.output)) {
        error = "--output: the image must end in .png or .exr" + got(o.output);
        return false;
    }
    return check_bake(app, o, error);
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
    CommandLine line;
    try {
        line.app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
        return true;
    } catch (const CLI::ParseError& failure) {
        error = one_line(failure);
        return false;
    }
    if (line.version) {
        options.version = true;
        return true;
    }
    return line.read_values(options, error) && check_together(line.app, options, error);
}

std::string usage_text() {
    CommandLine line;
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
