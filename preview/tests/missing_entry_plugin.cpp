// A plug-in that lacks the shading call itself.
#include "shader/parameters.h"
#include "shader/renderer.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT int bendlens_version(void) {
    return 1;
}
EXPORT void bendlens_init(RenderState*, BendlensParameters*, Boolean*) {}
EXPORT void bendlens_exit(RenderState*, BendlensParameters*) {}
