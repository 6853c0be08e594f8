// The scene the command line asks for: a mesh file, or the built-in surfaces.
#pragma once

#include <string>
#include <vector>

#include "preview/app/options.h"
#include "preview/progress/progress.h"
#include "preview/scene/scene.h"

namespace preview {

// --derivatives: automatic is exact on the built-in surfaces, estimated on a
// mesh (the parser refuses exact with a mesh).
DerivativeSource derivative_source(Options::Derivatives wanted, bool mesh);

// Loads and places --mesh, or lays out --scene's surfaces, and builds the
// scene's acceleration structure; false with a one-line reason. Progress,
// if given, hears each step: read, weld, curvature, BVH. With
// file_positions, also gives the model's vertices as its file has them,
// before they are centred and scaled (a vertex bake writes those), or the
// first built-in surface's own. Without rays the acceleration structure is
// left out (Scene::commit), for a bake that casts none.
bool build_scene(const Options& options, Scene& scene, std::string& error,
                 Progress* progress = nullptr, std::vector<Float3>* file_positions = nullptr,
                 bool rays = true);

} // namespace preview
