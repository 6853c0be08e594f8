#include "preview/mesh/load.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

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

// A regular file's bytes, mapped into memory rather than copied: the pages
// are read as the parser reaches them and given back as soon as the mapping
// is released.
class FileBytes {
  public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes() { release(); }

    // False if path is not a regular file or cannot be read.
    bool open(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        struct stat info {};
        bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
        size_ = ok ? size_t(info.st_size) : 0;
        if (ok && size_ > 0) {
            void* mapped = mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            ok = mapped != MAP_FAILED;
            data_ = ok ? static_cast<const char*>(mapped) : nullptr;
            if (ok) {
                // Read ahead: the parsers go through the file from its start.
                madvise(mapped, size_, MADV_WILLNEED);
            }
        }
        ::close(fd);
        return ok;
    }

    void release() {
        if (data_ != nullptr) {
            munmap(const_cast<char*>(data_), size_);
        }
        data_ = nullptr;
        size_ = 0;
    }

    const char* data() const { return data_ == nullptr ? "" : data_; }
    size_t size() const { return size_; }

  private:
    const char* data_ = nullptr;
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
