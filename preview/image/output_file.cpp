#include "preview/image/output_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "preview/image/interrupt.h"

namespace preview {
namespace {

// The longest file name the folder of path takes (255 on most file systems).
size_t longest_name(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? size_t(limit) : 255;
}

// The name of temporary file `attempt` beside path: "NAME.partial-PID-N",
// the output's own name shortened as far as it must be for the whole to
// stay within the folder's limit on a name, so that it fits wherever the
// output's name does.
std::string partial_name(const std::string& path, int attempt) {
    const std::string suffix =
        ".partial-" + std::to_string(long(getpid())) + "-" + std::to_string(attempt);
    const size_t slash = path.rfind('/');
    const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const size_t limit = longest_name(path);
    const size_t name_length = path.size() - name_start;
    const size_t kept =
        name_length + suffix.size() <= limit ? name_length : limit - std::min(limit, suffix.size());
    return path.substr(0, name_start + kept) + suffix;
}

} // namespace

OutputFile::~OutputFile() {
    discard();
}

bool OutputFile::open(const std::string& path, std::string& error) {
    discard();
    path_ = path;
    // The name is registered first and the file then created exclusively, so
    // no signal can fall between its creation and its registration. The
    // process id keeps the names of concurrent runs apart; a stale file of
    // the same name is stepped over.
    int reason = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = partial_name(path, attempt);
        set_partial_file(name.c_str());
        descriptor_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (descriptor_ >= 0) {
            temporary_ = name;
            return true;
        }
        reason = errno;
        set_partial_file(nullptr);
        if (reason != EEXIST) {
            break;
        }
    }
    error = "cannot create a file beside " + path + ": " + std::strerror(reason);
    return false;
}

FILE* OutputFile::stream() {
    if (stream_ == nullptr && descriptor_ >= 0) {
        stream_ = fdopen(descriptor_, "wb");
        if (stream_ != nullptr) {
            descriptor_ = -1; // the stream owns it now
        }
    }
    return stream_;
}

bool OutputFile::finish(bool written, std::string& error) {
    if (temporary_.empty()) {
        return false;
    }
    if (stream_ != nullptr) {
        const bool closed = std::fclose(stream_) == 0;
        stream_ = nullptr;
        if (written && !closed) {
            written = false;
            error = "cannot finish writing " + path_;
        }
    }
    if (descriptor_ >= 0) {
        close(descriptor_);
        descriptor_ = -1;
    }
    if (written && std::rename(temporary_.c_str(), path_.c_str()) != 0) {
        written = false;
        error = "cannot move the file into place at " + path_ + ": " + std::strerror(errno);
    }
    if (!written) {
        std::remove(temporary_.c_str());
    }
    // Only once the file has been renamed or removed: until then an
    // interrupt must still find it.
    set_partial_file(nullptr);
    temporary_.clear();
    return written;
}

void OutputFile::discard() {
    if (!temporary_.empty()) {
        std::string ignored;
        finish(false, ignored);
    }
}

} // namespace preview
