// A PNG writer for large images that compresses on every core.
//
// libpng deflates the whole image as one stream on one thread; for a baked
// map of 16 million pixels or more that is the larger part of writing it.
// Here the rows are cut into slices, each filtered (Up) and deflated on its
// own, and the slices' streams are joined into one: every slice but the last
// ends in a sync flush (a byte boundary, no final block), so their
// concatenation behind one zlib header, with the Adler-32 of all the
// filtered rows (combined from the slices') as the trailer, is a valid zlib
// stream of the whole image. The file is PNG's signature, IHDR, IDAT chunks
// and IEND; it reads back the same in any PNG reader.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace preview {

// The pixels to write: height rows of width RGBA pixels, each sample one
// byte (depth 8) or two bytes big endian (depth 16), as PNG stores them;
// with alpha false the fourth sample of each pixel is dropped (RGB). row(y,
// out) writes row y's RGBA samples to out (width * 4 samples); it is called
// from several threads at once, so that a caller can compute the rows there
// rather than hold the whole image in samples first.
struct PngRows {
    int width = 0;
    int height = 0;
    int depth = 8;
    bool alpha = true;
    std::function<void(int y, unsigned char* out)> row;
};

// Filtered bytes a slice holds at most (at least one row): small enough to
// share the work out evenly, large enough that each slice's fresh window
// and closing flush cost nothing worth counting.
constexpr size_t png_slice_bytes = size_t(4) << 20;

// Writes rows as a PNG to file at zlib's level `level`, on `threads`
// threads (0: every core), in slices of at most slice_bytes (tests make them
// small); the same bytes for any thread count. False, with a reason, when
// zlib cannot compress or the file cannot be written.
bool write_png_in_slices(const PngRows& rows, int level, int threads, FILE* file,
                         std::string& error, size_t slice_bytes = png_slice_bytes);

} // namespace preview
