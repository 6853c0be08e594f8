// Writing the rendered image: PNG or OpenEXR, chosen by the file's extension.
#pragma once

#include <string>

#include "preview/image/colour_map.h"
#include "preview/image/image.h"
#include "shader/parameters.h"

namespace preview {

// How the PNG shows the values; the EXR always holds them as computed.
struct ImageStyle {
    using Colormap = preview::Colormap;
    // Display values in [0, 1]. A dark slate blue rather than a grey, so that
    // neither an output of 0 (black) nor a mid grey blends into it.
    float background[3] = {0.15f, 0.19f, 0.24f};
    // PNG with alpha: alpha is the pixel's coverage and the colour is the
    // value's own, not premultiplied (PNG's rule); no background.
    bool transparent = false;
    Colormap colormap = Colormap::grey; // see map_colour
    // A bar with the range's end values (see draw_legend), read from the
    // parameters' mapping, range_max, range_min and threshold; the colour
    // map's one-sided halves follow the mapping too.
    bool legend = false;
    BendlensParameters parameters{};
    // Bits a PNG sample: 8, or 16 (each display value v stored as
    // round(v * 65535)).
    int depth = 8;
};

// The colour of a pixel as the PNG shows it, each channel and alpha in
// [0, 1] before the samples are rounded to the style's depth: see png_pixel.
void display_pixel(const float rgba[4], const ImageStyle& style, float out[4]);

// The 8-bit RGBA colour of a pixel in the PNG: the value (the red channel:
// the shader writes one grey) clamped to [0, 1] and coloured by the style's
// map, without gamma (the colour stands for data, not light). Opaque, it is
// laid over the background by the pixel's coverage; transparent, alpha is
// the coverage. A NaN value shows as magenta.
void png_pixel(const float rgba[4], const ImageStyle& style, unsigned char out[4]);
// The same in grey over the default background, opaque: RGB.
void png_pixel(const float rgba[4], unsigned char out[3]);

// Writes image to path.
// .png: RGB, or RGBA when transparent, as the style shows it, 8 or 16 bits a
// sample (ImageStyle::depth).
// .exr: 32-bit float R, G, B, A, premultiplied by the coverage A as OpenEXR
// expects, and the raw layers the image carries, not premultiplied (they are
// data): measure.h, measure.k1, measure.k2. A layer whose size is not the
// image's is refused.
// The file is written through an OutputFile (output_file.h): under a
// temporary name in the same folder, named to the interrupt handler for as
// long as it exists, and renamed into place only when complete, so neither a
// failed write nor an interrupted one leaves a partial image behind.
bool write_image(const Image& image, const std::string& path, std::string& error);
bool write_image(const Image& image, const std::string& path, const ImageStyle& style,
                 std::string& error);

// Checks, before a long render, that path is not a folder and that a file
// can be created beside it; false with the reason (the system's) if not.
bool check_writable(const std::string& path, std::string& error);

// True for a path whose extension write_image knows.
bool known_image_extension(const std::string& path);

// True for a path write_image writes as OpenEXR (.exr, any case).
bool is_exr_path(const std::string& path);

} // namespace preview
