// An image read back as a texture, and looked up through texture
// coordinates: how the preview shows a baked map on its model (--texture).
#pragma once

#include <string>

#include "preview/image/image.h"

namespace preview {

// The largest texture read, in texels a side, as large as a bake writes.
constexpr int max_texture_size = 16384;

// Reads a PNG (any bit depth and colour type: grey, palette, RGB, with or
// without alpha) or an OpenEXR file (its R, G, B and A; premultiplied colour
// is divided by A where A is above 0) into texture.rgba, each value in
// [0, 1] for a PNG (a sample s of n bits reads s / (2^n - 1)), a missing
// alpha read as 1. False with "texture PATH: reason" for a file that cannot
// be read, is neither format, or is larger than max_texture_size a side.
bool read_texture(const std::string& path, Image& texture, std::string& error);

// The texture's colour at texture coordinates (u, v), v running up the
// image as in OpenGL (v = 0 at the bottom row, 1 at the top): bilinear
// between the four texels whose centres surround the point, texel (x, y)
// centred at u = (x + 0.5) / width, v = 1 - (y + 0.5) / height. Beyond the
// outermost centres the edge texels are repeated (clamp to edge), so a
// lookup never wraps to the far side of an atlas. A coordinate that is not
// finite gives NaN.
void sample_texture(const Image& texture, float u, float v, float rgba[4]);

} // namespace preview
