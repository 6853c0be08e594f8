// Writing the rendered image: PNG or OpenEXR, chosen by the file's extension.
#pragma once

#include <string>

#include "preview/render.h"
#include "shader/parameters.h"

namespace preview {

// The 8-bit colour of a pixel in the PNG: the value clamped to [0, 1] and
// scaled without gamma (the grey is data, not light), laid over a dark
// background by the pixel's coverage. A NaN value shows as magenta.
void png_pixel(const float rgba[4], unsigned char out[3]);

// How the PNG shows the values; the EXR always holds them as computed.
struct ImageStyle {
    enum class Colormap { grey, diverging };
    float background[3] = {0.08f, 0.08f, 0.08f};
    bool transparent = false; // PNG with alpha: uncovered pixels transparent
    Colormap colormap = Colormap::grey;
    // A bar with the range's end values, read from the parameters' mapping,
    // range_max, range_min and threshold.
    bool legend = false;
    BendlensParameters parameters{};
};

// Writes image to path (.png: 8-bit RGB; .exr: 32-bit float R, G, B, A, the
// values exactly as computed). The file is written under a temporary name
// in the same folder and renamed into place only when complete, so a failed
// write never leaves a partial image behind.
bool write_image(const Image& image, const std::string& path, std::string& error);
bool write_image(const Image& image, const std::string& path, const ImageStyle& style,
                 std::string& error);

// Checks, before a long render, that a file can be created beside path.
bool check_writable(const std::string& path, std::string& error);

// True for a path whose extension write_image knows.
bool known_image_extension(const std::string& path);

} // namespace preview
