#include "preview/image/image_io.h"

#include <png.h>
#include <sys/stat.h>

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfOutputFile.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "preview/image/legend.h"
#include "preview/image/output_file.h"
#include "preview/image/png_slices.h"

namespace preview {
namespace {

std::string extension_of(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return extension;
}

void quiet_error(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void quiet_warning(png_structp, png_const_charp) {}

// From this many pixels on (2048 x 2048) a PNG is compressed for speed
// rather than size.
constexpr size_t fast_png_pixels = size_t(1) << 22;

// The nearest whole number to a value in [0, top], halves rounded up, as
// lround does: the float is exact in double, and so is adding one half.
unsigned rounded(float value, float top) {
    return unsigned(double(value * top) + 0.5);
}

// display_pixel's body, inline where the PNG's samples are made: a call a
// pixel cost about a quarter of the colours' time on a large map.
inline void shown_pixel(const float rgba[4], const ImageStyle& style, float out[4]) {
    // A NaN is a fault to be seen: full magenta, opaque, whatever its coverage.
    if (std::isnan(rgba[0]) || std::isnan(rgba[1]) || std::isnan(rgba[2])) {
        out[0] = 1.0f, out[1] = 0.0f, out[2] = 1.0f, out[3] = 1.0f;
        return;
    }
    const float coverage = std::min(std::max(rgba[3], 0.0f), 1.0f);
    if (style.transparent && coverage == 0.0f) {
        out[0] = out[1] = out[2] = out[3] = 0.0f; // nothing there: no colour either
        return;
    }
    auto show = [&](int c, float colour) {
        const float shown = style.transparent
                                ? colour
                                : colour * coverage + style.background[c] * (1.0f - coverage);
        // A NaN (from a bad background) reads 0, as fmax(NaN, 0) would,
        // without a library call for every sample of a large map.
        out[c] = shown >= 0.0f ? (shown <= 1.0f ? shown : 1.0f) : 0.0f;
    };
    if (style.colormap == ImageStyle::Colormap::grey) {
        // Grey shows each channel as it is, as it always has.
        for (int c = 0; c < 3; ++c) {
            show(c, std::min(std::max(rgba[c], 0.0f), 1.0f));
        }
    } else {
        // Each branch ends in its own loop, so that the colour is not stored
        // and read back (a stall on every pixel of a large map).
        float colour[3];
        map_colour(rgba[0], style.colormap, style.parameters.mapping, colour);
        for (int c = 0; c < 3; ++c) {
            show(c, colour[c]);
        }
    }
    out[3] = style.transparent ? coverage : 1.0f;
}

// One pixel's PNG samples: 8 bits a channel, or 16 bits big endian as PNG
// stores them.
void put_samples(const float rgba[4], const ImageStyle& style, unsigned char* out) {
    float shown[4];
    shown_pixel(rgba, style, shown);
    for (int c = 0; c < 4; ++c) {
        if (style.depth == 16) {
            const unsigned sample = rounded(shown[c], 65535.0f);
            out[2 * c] = static_cast<unsigned char>(sample >> 8);
            out[2 * c + 1] = static_cast<unsigned char>(sample & 0xff);
        } else {
            out[c] = static_cast<unsigned char>(rounded(shown[c], 255.0f));
        }
    }
}

// Every pixel's samples, the rows shared out between the cores: a baked map
// can have 268 million pixels.
void put_all_samples(const Image& image, const ImageStyle& style,
                     std::vector<unsigned char>& pixels) {
    const size_t count = size_t(image.width) * size_t(image.height);
    const size_t bytes = style.depth == 16 ? 8 : 4;
    const size_t threads =
        std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), count / 65536 + 1);
    std::vector<std::thread> pool;
    for (size_t part = 0; part < threads; ++part) {
        pool.emplace_back([&, part]() {
            const size_t end = count * (part + 1) / threads;
            for (size_t i = count * part / threads; i < end; ++i) {
                put_samples(&image.rgba[4 * i], style, &pixels[bytes * i]);
            }
        });
    }
    for (std::thread& t : pool) {
        t.join();
    }
}

// The legend is drawn in 8 bits; in a 16-bit image the pixels it changed
// take its colours, each byte b as b * 257 (0xbbbb).
void draw_legend_into(std::vector<unsigned char>& pixels, const Image& image,
                      const ImageStyle& style) {
    if (style.depth != 16) {
        draw_legend(pixels, image.width, image.height, style.parameters, style.colormap,
                    style.background);
        return;
    }
    const size_t count = size_t(image.width) * size_t(image.height);
    std::vector<unsigned char> plain(count * 4);
    for (size_t i = 0; i < count; ++i) {
        png_pixel(&image.rgba[4 * i], style, &plain[4 * i]);
    }
    std::vector<unsigned char> drawn = plain;
    draw_legend(drawn, image.width, image.height, style.parameters, style.colormap,
                style.background);
    for (size_t i = 0; i < drawn.size(); ++i) {
        if (drawn[i] != plain[i]) {
            for (size_t k = i - i % 4; k < i - i % 4 + 4; ++k) {
                pixels[2 * k] = pixels[2 * k + 1] = drawn[k];
            }
        }
    }
}

bool write_png(const Image& image, const ImageStyle& style, FILE* file, std::string& error) {
    const size_t count = size_t(image.width) * size_t(image.height);
    const size_t bytes = style.depth == 16 ? 2 : 1;
    const size_t row_bytes = size_t(image.width) * 4 * bytes;
    // From 2048 x 2048 pixels on: zlib's fastest level with one filter for
    // every row, deflated in slices on every core (png_slices.h); a file
    // about twice the size of libpng's default settings, written many times
    // faster (bench/README.md, the texture bake).
    const bool fast = count >= fast_png_pixels;
    PngRows rows{image.width, image.height, style.depth, style.transparent, {}};
    if (fast && !style.legend) {
        // Each row's colours where it is compressed: no copy of the whole
        // image in PNG's samples first.
        rows.row = [&](int y, unsigned char* out) {
            const float* rgba = &image.rgba[size_t(y) * size_t(image.width) * 4];
            for (int x = 0; x < image.width; ++x) {
                put_samples(&rgba[4 * size_t(x)], style, out + size_t(x) * 4 * bytes);
            }
        };
        return write_png_in_slices(rows, 1, 0, file, error);
    }
    // The whole image in RGBA first, so the legend can be drawn over it.
    std::vector<unsigned char> pixels(count * 4 * bytes);
    put_all_samples(image, style, pixels);
    if (style.legend) {
        draw_legend_into(pixels, image, style);
    }
    if (fast) {
        rows.row = [&](int y, unsigned char* out) {
            std::memcpy(out, &pixels[size_t(y) * row_bytes], row_bytes);
        };
        return write_png_in_slices(rows, 1, 0, file, error);
    }
    // libpng's own handlers would print to stderr beside the tool's line.
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quiet_error, quiet_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (png == nullptr || info == nullptr) {
        png_destroy_write_struct(&png, &info);
        error = "libpng could not start";
        return false;
    }
    // libpng reports errors by longjmp; nothing with a destructor is made
    // between here and the end of the function.
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        error = "libpng could not write the image";
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height),
                 style.depth == 16 ? 16 : 8,
                 style.transparent ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    if (!style.transparent) {
        // The rows are RGBA; libpng drops the fourth sample of each pixel.
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    }
    for (int y = 0; y < image.height; ++y) {
        png_write_row(png, &pixels[size_t(y) * size_t(image.width) * 4 * bytes]);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

bool write_exr(const Image& image, const std::string& path, std::string& error) {
    const size_t pixels = size_t(image.width) * size_t(image.height);
    struct Layer {
        const char* name;
        const std::vector<float>& values;
    };
    const Layer layers[3] = {
        {"measure.h", image.measure}, {"measure.k1", image.k1}, {"measure.k2", image.k2}};
    for (const Layer& layer : layers) {
        if (!layer.values.empty() && layer.values.size() != pixels) {
            error = std::string("the image's ") + layer.name + " layer is not the image's size";
            return false;
        }
    }
    try {
        Imf::Header header(image.width, image.height);
        const char* names[4] = {"R", "G", "B", "A"};
        for (const char* name : names) {
            header.channels().insert(name, Imf::Channel(Imf::FLOAT));
        }
        for (const Layer& layer : layers) {
            if (!layer.values.empty()) {
                header.channels().insert(layer.name, Imf::Channel(Imf::FLOAT));
            }
        }
        Imf::OutputFile file(path.c_str(), header);
        // OpenEXR's colour is premultiplied by alpha: a half-covered edge
        // pixel holds half its colour, as a compositor adding layers over
        // each other expects. The raw layers are data and stay as they are.
        // The colour is premultiplied a band of rows at a time, so that a
        // large map needs no second copy of itself.
        const size_t row = 4 * size_t(image.width);
        constexpr int band = 64;
        std::vector<float> premultiplied(row * size_t(std::min(band, image.height)));
        for (int first = 0; first < image.height; first += band) {
            const int rows = std::min(band, image.height - first);
            const float* from = &image.rgba[size_t(first) * row];
            for (size_t i = 0; i < size_t(rows) * row; i += 4) {
                for (size_t c = 0; c < 4; ++c) {
                    premultiplied[i + c] = c < 3 ? from[i + c] * from[i + 3] : from[i + 3];
                }
            }
            // Slices are addressed by the row's number in the whole image.
            Imf::FrameBuffer frame;
            char* base = reinterpret_cast<char*>(premultiplied.data()) -
                         std::ptrdiff_t(size_t(first) * row * sizeof(float));
            for (size_t c = 0; c < 4; ++c) {
                frame.insert(names[c], Imf::Slice(Imf::FLOAT, base + c * sizeof(float),
                                                  4 * sizeof(float), row * sizeof(float)));
            }
            for (const Layer& layer : layers) {
                if (!layer.values.empty()) {
                    char* values =
                        const_cast<char*>(reinterpret_cast<const char*>(layer.values.data()));
                    frame.insert(layer.name, Imf::Slice(Imf::FLOAT, values, sizeof(float),
                                                        sizeof(float) * size_t(image.width)));
                }
            }
            file.setFrameBuffer(frame);
            file.writePixels(rows);
        }
    } catch (const std::exception& e) {
        error = std::string("OpenEXR could not write the image: ") + e.what();
        return false;
    }
    return true;
}

} // namespace

void display_pixel(const float rgba[4], const ImageStyle& style, float out[4]) {
    shown_pixel(rgba, style, out);
}

void png_pixel(const float rgba[4], const ImageStyle& style, unsigned char out[4]) {
    float shown[4];
    display_pixel(rgba, style, shown);
    for (int c = 0; c < 4; ++c) {
        out[c] = static_cast<unsigned char>(rounded(shown[c], 255.0f));
    }
}

void png_pixel(const float rgba[4], unsigned char out[3]) {
    unsigned char with_alpha[4];
    png_pixel(rgba, ImageStyle{}, with_alpha);
    std::memcpy(out, with_alpha, 3);
}

bool check_writable(const std::string& path, std::string& error) {
    // The image could be made but not moved into place over a folder.
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = "cannot write the image to " + path + ": it is a folder";
        return false;
    }
    OutputFile file;
    if (!file.open(path, error)) {
        return false;
    }
    file.finish(false, error);
    return true;
}

bool known_image_extension(const std::string& path) {
    const std::string extension = extension_of(path);
    return extension == "png" || extension == "exr";
}

bool is_exr_path(const std::string& path) {
    return extension_of(path) == "exr";
}

bool write_image(const Image& image, const std::string& path, std::string& error) {
    return write_image(image, path, ImageStyle{}, error);
}

bool write_image(const Image& image, const std::string& path, const ImageStyle& style,
                 std::string& error) {
    const std::string extension = extension_of(path);
    if (extension != "png" && extension != "exr") {
        error = "output " + path + " must end in .png or .exr";
        return false;
    }
    if (image.width <= 0 || image.height <= 0 ||
        image.rgba.size() != size_t(image.width) * size_t(image.height) * 4) {
        error = "the image to write to " + path + " is empty or not its stated size";
        return false;
    }
    OutputFile file;
    if (!file.open(path, error)) {
        return false;
    }
    bool written = false;
    if (extension == "png") {
        FILE* stream = file.stream();
        if (stream == nullptr) {
            error = "cannot write " + file.temporary_name();
        } else {
            written = write_png(image, style, stream, error);
        }
    } else {
        written = write_exr(image, file.temporary_name(), error);
    }
    return file.finish(written, error);
}

} // namespace preview
