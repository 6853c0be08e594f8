#include "preview/app/scene_setup.h"

#include <vector>

#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"

namespace preview {
namespace {

bool add_mesh_file(const Options& options, DerivativeSource source, Scene& scene,
                   std::string& error) {
    Mesh mesh;
    if (!load_mesh(options.mesh, mesh, error)) {
        return false;
    }
    place_mesh(mesh, options.fit);
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

bool build_scene(const Options& options, Scene& scene, std::string& error) {
    const bool mesh_given = !options.mesh.empty();
    const DerivativeSource source = derivative_source(options.derivatives, mesh_given);
    if (mesh_given) {
        if (!add_mesh_file(options, source, scene, error)) {
            return false;
        }
    } else {
        add_builtin_surfaces(options, source, scene);
    }
    return scene.commit(error);
}

} // namespace preview
