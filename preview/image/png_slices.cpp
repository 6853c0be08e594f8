#include "preview/image/png_slices.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace preview {
namespace {

// Bytes of compressed data in one IDAT chunk, as PNG encoders commonly use.
constexpr size_t idat_bytes = size_t(1) << 20;

struct Slice {
    int first = 0, end = 0; // rows
    std::vector<unsigned char> deflated;
    uLong adler = 1; // of the slice's filtered rows alone
    size_t filtered = 0;
    bool ok = false;
};

// Row y as PNG stores it, without the filter byte, from its RGBA samples in
// scratch: RGBA as given, or RGB.
void stored_row(const PngRows& rows, int y, std::vector<unsigned char>& scratch,
                unsigned char* out) {
    const size_t sample = size_t(rows.depth / 8);
    rows.row(y, rows.alpha ? out : scratch.data());
    if (!rows.alpha) {
        for (int x = 0; x < rows.width; ++x) {
            std::memcpy(out + size_t(x) * 3 * sample, &scratch[size_t(x) * 4 * sample], 3 * sample);
        }
    }
}

// Filters (Up) and deflates the slice's rows into a raw deflate stream that
// ends on a byte boundary: with a sync flush, or as the final block for the
// image's last slice.
void deflate_slice(const PngRows& rows, int level, Slice& slice) {
    const size_t sample = size_t(rows.depth / 8);
    const size_t stride = size_t(rows.width) * size_t(rows.alpha ? 4 : 3) * sample;
    std::vector<unsigned char> above(stride, 0), row(stride), filtered(stride + 1);
    // RGBA rows are written straight into place; RGB ones first here.
    std::vector<unsigned char> scratch(rows.alpha ? 0 : size_t(rows.width) * 4 * sample);
    if (slice.first > 0) {
        stored_row(rows, slice.first - 1, scratch, above.data());
    }
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return;
    }
    const bool last = slice.end == rows.height;
    bool ok = true;
    for (int y = slice.first; y < slice.end && ok; ++y) {
        stored_row(rows, y, scratch, row.data());
        filtered[0] = 2; // Up: each byte less the one above it
        for (size_t i = 0; i < stride; ++i) {
            filtered[i + 1] = static_cast<unsigned char>(row[i] - above[i]);
        }
        std::swap(row, above);
        slice.adler = adler32(slice.adler, filtered.data(), uInt(filtered.size()));
        slice.filtered += filtered.size();
        z.next_in = filtered.data();
        z.avail_in = uInt(filtered.size());
        const int flush = y + 1 < slice.end ? Z_NO_FLUSH : (last ? Z_FINISH : Z_SYNC_FLUSH);
        // Until zlib has taken the row and, at the end, flushed everything.
        for (;;) {
            const size_t used = slice.deflated.size() - z.avail_out;
            if (z.avail_out == 0) {
                slice.deflated.resize(std::max<size_t>(2 * slice.deflated.size(), 1 << 16));
            }
            z.next_out = slice.deflated.data() + used;
            z.avail_out = uInt(slice.deflated.size() - used);
            const int status = deflate(&z, flush);
            if (status == Z_STREAM_ERROR) {
                ok = false;
                break;
            }
            const bool done =
                flush == Z_FINISH ? status == Z_STREAM_END : z.avail_in == 0 && z.avail_out > 0;
            if (done) {
                break;
            }
        }
    }
    slice.deflated.resize(slice.deflated.size() - z.avail_out);
    deflateEnd(&z);
    slice.ok = ok;
}

void put_u32(unsigned char* out, uint32_t value) {
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

bool write_chunk(FILE* file, const char type[4], const unsigned char* data, size_t size) {
    unsigned char head[8];
    put_u32(head, uint32_t(size));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    if (size > 0) {
        crc = crc32(crc, data, uInt(size));
    }
    unsigned char tail[4];
    put_u32(tail, uint32_t(crc));
    return std::fwrite(head, 1, 8, file) == 8 &&
           (size == 0 || std::fwrite(data, 1, size, file) == size) &&
           std::fwrite(tail, 1, 4, file) == 4;
}

// The zlib stream, pieced together from its parts, written out as IDAT
// chunks of idat_bytes each but the last.
class IdatStream {
  public:
    explicit IdatStream(FILE* file) : file_(file) { buffer_.reserve(idat_bytes); }
    bool add(const unsigned char* data, size_t size) {
        while (size > 0) {
            const size_t take = std::min(size, idat_bytes - buffer_.size());
            buffer_.insert(buffer_.end(), data, data + take);
            data += take;
            size -= take;
            if (buffer_.size() == idat_bytes && !flush()) {
                return false;
            }
        }
        return true;
    }
    bool flush() {
        const bool ok =
            buffer_.empty() || write_chunk(file_, "IDAT", buffer_.data(), buffer_.size());
        buffer_.clear();
        return ok;
    }

  private:
    FILE* file_;
    std::vector<unsigned char> buffer_;
};

} // namespace

bool write_png_in_slices(const PngRows& rows, int level, int threads, FILE* file,
                         std::string& error, size_t slice_bytes) {
    if (rows.width <= 0 || rows.height <= 0 || (rows.depth != 8 && rows.depth != 16)) {
        error = "no image to write";
        return false;
    }
    const size_t stride =
        size_t(rows.width) * size_t(rows.alpha ? 4 : 3) * size_t(rows.depth / 8) + 1;
    const int rows_per_slice =
        int(std::min<size_t>(size_t(rows.height), std::max<size_t>(1, slice_bytes / stride)));
    std::vector<Slice> slices;
    for (int y = 0; y < rows.height; y += rows_per_slice) {
        Slice slice;
        slice.first = y;
        slice.end = std::min(rows.height - y, rows_per_slice) + y;
        slices.push_back(std::move(slice));
    }
    std::atomic<size_t> next{0};
    auto work = [&]() {
        for (size_t s = next++; s < slices.size(); s = next++) {
            deflate_slice(rows, level, slices[s]);
        }
    };
    const unsigned cores =
        threads > 0 ? unsigned(threads) : std::max(1u, std::thread::hardware_concurrency());
    std::vector<std::thread> pool;
    for (size_t t = 1; t < std::min<size_t>(cores, slices.size()); ++t) {
        pool.emplace_back(work);
    }
    work();
    for (std::thread& thread : pool) {
        thread.join();
    }
    uLong adler = 1;
    for (const Slice& slice : slices) {
        if (!slice.ok) {
            error = "zlib could not compress the image";
            return false;
        }
        adler = adler32_combine(adler, slice.adler, z_off_t(slice.filtered));
    }

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char header[13];
    put_u32(header, uint32_t(rows.width));
    put_u32(header + 4, uint32_t(rows.height));
    header[8] = static_cast<unsigned char>(rows.depth);
    header[9] = rows.alpha ? 6 : 2;           // RGBA or RGB
    header[10] = header[11] = header[12] = 0; // deflate, a filter type a row, no interlace
    // zlib's header: deflate with a 32 KB window, no dictionary, the level
    // marked as fast (a hint only); a multiple of 31 as zlib requires.
    const unsigned char zlib_header[2] = {0x78, 0x01};
    unsigned char trailer[4];
    put_u32(trailer, uint32_t(adler));
    IdatStream idat(file);
    bool ok = std::fwrite(signature, 1, 8, file) == 8 && write_chunk(file, "IHDR", header, 13) &&
              idat.add(zlib_header, 2);
    for (size_t s = 0; s < slices.size() && ok; ++s) {
        ok = idat.add(slices[s].deflated.data(), slices[s].deflated.size());
    }
    ok = ok && idat.add(trailer, 4) && idat.flush() && write_chunk(file, "IEND", nullptr, 0);
    if (!ok) {
        error = "cannot write the image";
    }
    return ok;
}

} // namespace preview
