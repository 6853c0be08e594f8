#include "preview/mesh/gzip.h"

#include <zlib.h>

#include <algorithm>

namespace preview {
namespace {

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

// A compressed file may expand a thousandfold; a mesh larger than this is
// refused rather than exhausting memory.
constexpr size_t max_inflated_size = size_t(1) << 31;

// Ends the zlib stream on every way out of gunzip.
struct InflateStream {
    z_stream stream{};
    bool started = false;
    ~InflateStream() {
        if (started) {
            inflateEnd(&stream);
        }
    }
};

} // namespace

bool gunzip(const char* data, size_t size, std::string& text, std::string& error) {
    InflateStream inflater;
    z_stream& stream = inflater.stream;
    // 16 + MAX_WBITS: a gzip header and trailer around deflate data.
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        return fail(error, "gzip: zlib cannot start");
    }
    inflater.started = true;
    const unsigned char* input = reinterpret_cast<const unsigned char*>(data);
    size_t input_left = size;
    text.clear();
    unsigned char buffer[1 << 16];
    for (;;) {
        // zlib counts in unsigned int: feed a larger input in pieces.
        if (stream.avail_in == 0 && input_left > 0) {
            const size_t piece = std::min<size_t>(input_left, size_t(1) << 30);
            stream.next_in = const_cast<unsigned char*>(input);
            stream.avail_in = static_cast<unsigned int>(piece);
            input += piece;
            input_left -= piece;
        }
        stream.next_out = buffer;
        stream.avail_out = sizeof buffer;
        const int status = inflate(&stream, Z_NO_FLUSH);
        text.append(reinterpret_cast<const char*>(buffer), sizeof buffer - stream.avail_out);
        if (text.size() > max_inflated_size) {
            return fail(error, "gzip: decompresses to more than 2 GiB");
        }
        const bool input_done = stream.avail_in == 0 && input_left == 0;
        if (status == Z_STREAM_END) {
            if (input_done) {
                return true;
            }
            inflateReset(&stream); // another member follows
        } else if (status == Z_BUF_ERROR && input_done) {
            return fail(error, "gzip: the data is truncated");
        } else if (status != Z_OK) {
            return fail(error, std::string("gzip: ") +
                                   (stream.msg != nullptr ? stream.msg : "corrupt data"));
        }
    }
}

} // namespace preview
