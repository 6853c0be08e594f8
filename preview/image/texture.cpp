#include "preview/image/texture.h"

#include <png.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

namespace preview {
namespace {

bool has_extension(const std::string& path, const char* extension) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    std::string found = path.substr(dot + 1);
    std::transform(found.begin(), found.end(), found.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return found == extension;
}

// What the PNG header says, once libpng has been told to hand out RGBA.
struct PngLayout {
    png_uint_32 width = 0, height = 0;
    int depth = 8; // 8 or 16 bits a sample
};

// libpng's own handlers print to stderr; these keep its message for the
// tool's one line instead, and drop its warnings.
void keep_error(png_structp png, png_const_charp message) {
    auto* kept = static_cast<std::string*>(png_get_error_ptr(png));
    if (kept != nullptr && kept->empty()) {
        *kept = message != nullptr ? message : "unknown error";
    }
    png_longjmp(png, 1);
}

void drop_warning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp: each of the two steps below makes
// nothing with a destructor between its setjmp and its end.
bool read_png_header(png_structp png, png_infop info, FILE* file, PngLayout& layout) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_init_io(png, file);
    png_read_info(png, info);
    const int colour = png_get_color_type(png, info);
    // Every layout becomes RGBA of 8 or 16 bits: palettes and grey below 8
    // bits expand, transparency chunks become alpha, grey becomes RGB.
    png_set_expand(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
        png_set_gray_to_rgb(png);
    }
    if ((colour & PNG_COLOR_MASK_ALPHA) == 0 && !png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_add_alpha(png, 0xffff, PNG_FILLER_AFTER);
    }
    png_read_update_info(png, info);
    layout.width = png_get_image_width(png, info);
    layout.height = png_get_image_height(png, info);
    layout.depth = png_get_bit_depth(png, info);
    return png_get_channels(png, info) == 4 && (layout.depth == 8 || layout.depth == 16);
}

bool read_png_rows(png_structp png, png_infop info, std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(png))) {
        return false;
    }
    png_read_image(png, rows.data());
    png_read_end(png, info);
    return true;
}

bool read_png(const std::string& path, Image& texture, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot read texture " + path;
        return false;
    }
    std::string reason;
    png_structp png =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, &reason, keep_error, drop_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    PngLayout layout;
    bool good = png != nullptr && info != nullptr && read_png_header(png, info, file, layout);
    if (good && (layout.width > png_uint_32(max_texture_size) ||
                 layout.height > png_uint_32(max_texture_size))) {
        error = "texture " + path + ": larger than " + std::to_string(max_texture_size) +
                " texels a side";
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(file);
        return false;
    }
    const size_t bytes = layout.depth == 16 ? 2 : 1;
    const size_t row_bytes = size_t(layout.width) * 4 * bytes;
    std::vector<unsigned char> samples(good ? row_bytes * layout.height : 0);
    std::vector<png_bytep> rows(good ? layout.height : 0);
    for (size_t y = 0; y < rows.size(); ++y) {
        rows[y] = samples.data() + y * row_bytes;
    }
    good = good && read_png_rows(png, info, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    if (!good) {
        error = "texture " + path + ": not a PNG libpng can read" +
                (reason.empty() ? std::string() : " (" + reason + ")");
        return false;
    }
    texture = Image{};
    texture.width = int(layout.width);
    texture.height = int(layout.height);
    texture.rgba.resize(size_t(layout.width) * layout.height * 4);
    const float scale = bytes == 2 ? 1.0f / 65535.0f : 1.0f / 255.0f;
    for (size_t i = 0; i < texture.rgba.size(); ++i) {
        // 16-bit samples are stored big endian.
        const unsigned value =
            bytes == 2 ? unsigned(samples[2 * i]) << 8 | samples[2 * i + 1] : unsigned(samples[i]);
        texture.rgba[i] = float(value) * scale;
    }
    return true;
}

bool read_exr(const std::string& path, Image& texture, std::string& error) {
    try {
        Imf::InputFile file(path.c_str());
        const Imath::Box2i window = file.header().dataWindow();
        const long width = long(window.max.x) - window.min.x + 1;
        const long height = long(window.max.y) - window.min.y + 1;
        if (width < 1 || height < 1 || width > max_texture_size || height > max_texture_size) {
            error = "texture " + path + ": empty, or larger than " +
                    std::to_string(max_texture_size) + " texels a side";
            return false;
        }
        texture = Image{};
        texture.width = int(width);
        texture.height = int(height);
        texture.rgba.assign(size_t(width) * size_t(height) * 4, 0.0f);
        // The slices are addressed from the data window's origin.
        char* base = reinterpret_cast<char*>(texture.rgba.data()) -
                     (long(window.min.x) + long(window.min.y) * width) * long(4 * sizeof(float));
        const char* names[4] = {"R", "G", "B", "A"};
        Imf::FrameBuffer frame;
        for (size_t c = 0; c < 4; ++c) {
            frame.insert(names[c],
                         Imf::Slice(Imf::FLOAT, base + c * sizeof(float), 4 * sizeof(float),
                                    4 * sizeof(float) * size_t(width), 1, 1, c == 3 ? 1.0 : 0.0));
        }
        file.setFrameBuffer(frame);
        file.readPixels(window.min.y, window.max.y);
    } catch (const std::exception& e) {
        error = "texture " + path + ": " + e.what();
        for (char& c : error) {
            c = c == '\n' ? ' ' : c;
        }
        return false;
    }
    for (size_t i = 0; i < texture.rgba.size(); i += 4) {
        const float alpha = texture.rgba[i + 3];
        if (alpha > 0.0f && alpha != 1.0f) {
            for (size_t c = 0; c < 3; ++c) {
                texture.rgba[i + c] /= alpha;
            }
        }
    }
    return true;
}

} // namespace

bool read_texture(const std::string& path, Image& texture, std::string& error) {
    if (has_extension(path, "png")) {
        return read_png(path, texture, error);
    }
    if (has_extension(path, "exr")) {
        return read_exr(path, texture, error);
    }
    error = "texture " + path + ": must end in .png or .exr";
    return false;
}

void sample_texture(const Image& texture, float u, float v, float rgba[4]) {
    if (!std::isfinite(u) || !std::isfinite(v) || texture.width < 1 || texture.height < 1) {
        rgba[0] = rgba[1] = rgba[2] = rgba[3] = NAN;
        return;
    }
    // Texel centres sit at half-integers; x and y count from the centre of
    // the first column and of the top row.
    const double x = double(u) * texture.width - 0.5;
    const double y = (1.0 - double(v)) * texture.height - 0.5;
    const double fx = x - std::floor(x), fy = y - std::floor(y);
    auto clamped = [](double at, int size) {
        return at < 0.0 ? 0 : at > size - 1 ? size - 1 : int(at);
    };
    const int x0 = clamped(std::floor(x), texture.width),
              x1 = clamped(std::floor(x) + 1.0, texture.width);
    const int y0 = clamped(std::floor(y), texture.height),
              y1 = clamped(std::floor(y) + 1.0, texture.height);
    const size_t w = size_t(texture.width);
    const float* t00 = &texture.rgba[4 * (size_t(y0) * w + size_t(x0))];
    const float* t10 = &texture.rgba[4 * (size_t(y0) * w + size_t(x1))];
    const float* t01 = &texture.rgba[4 * (size_t(y1) * w + size_t(x0))];
    const float* t11 = &texture.rgba[4 * (size_t(y1) * w + size_t(x1))];
    for (int c = 0; c < 4; ++c) {
        const double top = t00[c] + fx * (double(t10[c]) - t00[c]);
        const double bottom = t01[c] + fx * (double(t11[c]) - t01[c]);
        rgba[c] = float(top + fy * (bottom - top));
    }
}

} // namespace preview
