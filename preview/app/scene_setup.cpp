#include "preview/app/scene_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"

namespace preview {
namespace {

// Why a mesh file cannot be read, in the system's words, before the reader
// tries it: "" when it can be opened for reading.
std::string unreadable_reason(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return "it is a folder, not a file";
    }
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file";
    }
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::strerror(errno);
    }
    std::fclose(file);
    return "";
}

std::string size_text(double size) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", size);
    return text;
}

bool add_mesh_file(const Options& options, DerivativeSource source, Scene& scene,
                   std::string& error, Progress* progress, std::vector<Float3>* file_positions) {
    const std::string reason = unreadable_reason(options.mesh);
    if (!reason.empty()) {
        error = "cannot read mesh " + options.mesh + ": " + reason;
        return false;
    }
    Mesh mesh;
    if (!load_mesh(options.mesh, mesh, error, progress)) {
        return false;
    }
    if (file_positions != nullptr) {
        *file_positions = mesh.positions;
    }
    const double extent = place_mesh(mesh, options.fit);
    // --fit keeps to the range itself; a file's own units may not.
    if (options.fit == 0.0f && !(extent >= smallest_model && extent <= largest_model)) {
        error = "mesh " + options.mesh + ": the model is " + size_text(extent) +
                " across; the preview renders models from " + size_text(smallest_model) + " to " +
                size_text(largest_model) + " across: scale it with --fit";
        return false;
    }
    scene.add_mesh(options.mesh, std::move(mesh), {0.0f, 0.0f, 0.0f}, source, options.rings);
    return true;
}

void add_builtin_surfaces(const Options& options, DerivativeSource source, Scene& scene) {
    const std::vector<Surface> surfaces = builtin_surfaces();
    if (options.scene == "default") {
        // Two rows: sphere, cylinder, torus above; ellipsoid, saddle below.
        const Float3 places[5] = {{-2.6f, 1.3f, 0.0f},
                                  {0.0f, 1.3f, 0.0f},
                                  {2.6f, 1.3f, 0.0f},
                                  {-1.3f, -1.3f, 0.0f},
                                  {1.3f, -1.3f, 0.0f}};
        for (size_t i = 0; i < surfaces.size(); ++i) {
            scene.add_surface(surface_name(surfaces[i].kind), surfaces[i], places[i],
                              options.tessellation, options.free_form, source, options.rings);
        }
        return;
    }
    for (const Surface& surface : surfaces) {
        if (options.scene == surface_name(surface.kind)) {
            scene.add_surface(options.scene, surface, {0.0f, 0.0f, 0.0f}, options.tessellation,
                              options.free_form, source, options.rings);
        }
    }
}

} // namespace

DerivativeSource derivative_source(Options::Derivatives wanted, bool mesh) {
    using D = Options::Derivatives;
    switch (wanted) {
    case D::exact:
        return DerivativeSource::exact;
    case D::estimated:
        return DerivativeSource::estimated;
    case D::none:
        return DerivativeSource::none;
    case D::automatic:
    default:
        return mesh ? DerivativeSource::estimated : DerivativeSource::exact;
    }
}

bool build_scene(const Options& options, Scene& scene, std::string& error, Progress* progress,
                 std::vector<Float3>* file_positions, bool rays) {
    const bool mesh_given = !options.mesh.empty();
    const DerivativeSource source = derivative_source(options.derivatives, mesh_given);
    if (mesh_given) {
        if (!add_mesh_file(options, source, scene, error, progress, file_positions)) {
            return false;
        }
    } else {
        add_builtin_surfaces(options, source, scene);
    }
    if (!scene.commit(error, progress, rays)) {
        return false;
    }
    if (!mesh_given && file_positions != nullptr) {
        *file_positions = scene.objects().front().mesh.positions;
    }
    return true;
}

} // namespace preview
