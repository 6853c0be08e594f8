// The shader plug-in, loaded at run time as the renderer loads it.
#pragma once

#include <string>

#include "shader/parameters.h"
#include "shader/renderer.h"

namespace preview {

struct Plugin {
    void* handle = nullptr;
    Boolean (*shade)(Colour*, RenderState*, BendlensParameters*) = nullptr;
    int (*version)() = nullptr;
    void (*init)(RenderState*, BendlensParameters*, Boolean*) = nullptr;
    void (*exit)(RenderState*, BendlensParameters*) = nullptr;
};

// Opens the library and finds bendlens, bendlens_version, bendlens_init and
// bendlens_exit; refuses a library that lacks one or whose version is not 1.
bool load_plugin(const std::string& path, Plugin& plugin, std::string& error);
void unload_plugin(Plugin& plugin);

} // namespace preview
