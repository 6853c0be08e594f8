#include "preview/mesh/load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "preview/mesh/assimp_import.h"
#include "preview/mesh/gzip.h"
#include "preview/mesh/plain_obj.h"
#include "preview/mesh/ply.h"
#include "preview/mesh/prepare.h"
#include "preview/mesh/weld.h"

namespace preview {
namespace {

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

// The extensions read, each naming the format Assimp is asked for (but PLY,
// read by ply.h). Assimp knows some forty more; they are left out, so that
// no importer we have not chosen faces untrusted input.
const char* const mesh_formats[] = {"obj", "ply", "stl", "gltf", "glb"};

bool is_mesh_format(const std::string& extension) {
    return std::find(std::begin(mesh_formats), std::end(mesh_formats), extension) !=
           std::end(mesh_formats);
}

std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The text after the name's last dot, in lower case ("" without a dot), and
// the name without it.
std::string split_extension(std::string& name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "";
    }
    std::string extension = lower_case(name.substr(dot + 1));
    name.erase(dot);
    return extension;
}

bool parse_in_folder(const std::string& name, const std::string& folder, const char* data,
                     size_t size, Mesh& mesh, std::string& error, Progress* progress) {
    mesh = Mesh{};
    std::string stem = name;
    std::string format = split_extension(stem);
    std::string inflated;
    if (format == "gz") {
        format = split_extension(stem);
        if (!is_mesh_format(format)) {
            return fail(error, "unknown mesh format '" + format +
                                   ".gz' (expected .obj, .ply, .stl, .gltf or .glb, "
                                   "optionally .gz)");
        }
        if (!gunzip(data, size, inflated, error)) {
            return false;
        }
        data = inflated.data();
        size = inflated.size();
    }
    if (!is_mesh_format(format)) {
        return fail(error, "unknown mesh format '" + format +
                               "' (expected .obj, .ply, .stl, .gltf or .glb, optionally .gz)");
    }
    if (format == "ply") {
        return parse_ply(data, size, mesh, error, progress); // see ply.h
    }
    if (format == "obj" && read_plain_obj(data, size, mesh, progress)) {
        return true;
    }
    if (!import_with_assimp(format, folder, data, size, mesh, error)) {
        return false;
    }
    merge_identical_vertices(mesh);
    return true;
}

} // namespace

bool parse_mesh(const std::string& name, const char* data, size_t size, Mesh& mesh,
                std::string& error) {
    return parse_in_folder(name, "", data, size, mesh, error, nullptr);
}

namespace {

// A regular file's bytes, read whole into a buffer of the file's size and
// given back as soon as the mesh is parsed. (Mapping the file would spare
// the copy, a few hundredths of a second on a big scan, but a file cut
// short by another program while mapped kills the process with SIGBUS.)
class FileBytes {
  public:
    // False if path is not a regular file or cannot be read.
    bool open(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        struct stat info {};
        bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        if (ok) {
            bytes_.reset(new char[size_t(info.st_size) + 1]);
            size_ = 0;
            // Up to the size found, or to the end if the file has shrunk.
            while (ok && size_ < size_t(info.st_size)) {
                const ssize_t got = ::read(fd, bytes_.get() + size_, size_t(info.st_size) - size_);
                ok = got >= 0 || errno == EINTR;
                size_ += got > 0 ? size_t(got) : 0;
                if (got == 0) {
                    break;
                }
            }
        }
        ::close(fd);
        return ok;
    }

    void release() {
        bytes_.reset();
        size_ = 0;
    }

    const char* data() const { return bytes_ == nullptr ? "" : bytes_.get(); }
    size_t size() const { return size_; }

  private:
    std::unique_ptr<char[]> bytes_;
    size_t size_ = 0;
};

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool load_mesh(const std::string& path, Mesh& mesh, std::string& error, Progress* progress) {
    bool parsed = false;
    {
        ProgressStep step(progress, "read");
        FileBytes file;
        if (!file.open(path)) {
            error = "cannot read mesh " + path;
            return false;
        }
        parsed =
            parse_in_folder(path, folder_of(path), file.data(), file.size(), mesh, error, progress);
    } // the file's bytes are given back here
    if (!parsed || !prepare_mesh(mesh, error, progress)) {
        error = "mesh " + path + ": " + error;
        return false;
    }
    return true;
}

} // namespace preview
