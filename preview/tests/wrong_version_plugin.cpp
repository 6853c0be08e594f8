// A plug-in that has every entry point but speaks another shader version.
#include "shader/parameters.h"
#include "shader/renderer.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

EXPORT Boolean bendlens(Colour*, RenderState*, BendlensParameters*) {
    return 1;
}
EXPORT int bendlens_version(void) {
    return 2;
}
EXPORT void bendlens_init(RenderState*, BendlensParameters*, Boolean*) {}
EXPORT void bendlens_exit(RenderState*, BendlensParameters*) {}
