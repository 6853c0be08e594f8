// --bake as the tool runs it: the checks, the quick pass of --auto-range,
// the bake itself, the files written and the lines printed.
#pragma once

#include <string>
#include <vector>

#include "preview/app/options.h"
#include "preview/host/plugin.h"
#include "preview/progress/progress.h"
#include "preview/scene/scene.h"

namespace preview {

// Bakes the scene's one model as options ask (texture or vertices) and
// writes the result, printing a summary line per file and warnings on
// stderr. file_positions are the model's vertices as its file gives them,
// before the preview centred and scaled them: the vertex bake writes those.
// Progress, if given, hears each step (auto-range, bake, write). False with
// a one-line reason; nothing half-written is left behind.
bool run_bake(const Options& options, const Scene& scene, const Plugin& plugin, Instance& instance,
              const std::vector<Float3>& file_positions, Progress* progress, std::string& error);

} // namespace preview
