// Big scans: the preview tool from start to the written image on meshes of
// millions of triangles, with each step's time and the peak memory.
#pragma once

#include <string>

#include "preview/host/plugin.h"

namespace bench {

// Writes the built-in torus as a 1.5-million-triangle OBJ and binary PLY
// and a 10-million-triangle binary PLY into folder (once: files already
// there are kept), runs `preview` on each `repeats` times in turn (640 x 480,
// method 0, default options, --stats), and prints for each the median wall
// time from start to exit, the steps' times of that run, and the peak
// resident memory in bytes a triangle, against their targets. Then sets
// Embree's low build quality against the high one on the 1.5-million
// triangle mesh: the build, and a 640 x 480 render with `plugin`.
void run_big_scans(const std::string& preview, const std::string& folder, int repeats,
                   const preview::Plugin& plugin);

} // namespace bench
