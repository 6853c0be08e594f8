#include "preview/mesh/load.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "preview/mesh/assimp_import.h"
#include "preview/mesh/gzip.h"
#include "preview/mesh/ply.h"
#include "preview/mesh/prepare.h"

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
                     size_t size, Mesh& mesh, std::string& error) {
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
        return parse_ply(data, size, mesh, error); // see ply.h
    }
    return import_with_assimp(format, folder, data, size, mesh, error);
}

} // namespace

bool parse_mesh(const std::string& name, const char* data, size_t size, Mesh& mesh,
                std::string& error) {
    return parse_in_folder(name, "", data, size, mesh, error);
}

namespace {

// Reads a whole regular file; false if it is not one or cannot be read. Plain
// C reads: a stream reading a folder throws instead of failing.
bool read_file(const std::string& path, std::string& contents) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return false;
    }
    contents.clear();
    contents.reserve(size_t(info.st_size));
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        contents.append(buffer, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool load_mesh(const std::string& path, Mesh& mesh, std::string& error) {
    std::string contents;
    if (!read_file(path, contents)) {
        error = "cannot read mesh " + path;
        return false;
    }
    if (!parse_in_folder(path, folder_of(path), contents.data(), contents.size(), mesh, error) ||
        !prepare_mesh(mesh, error)) {
        error = "mesh " + path + ": " + error;
        return false;
    }
    return true;
}

} // namespace preview
