// The one export of the Windows binding: the renderer hands over the module
// that holds its functions right after loading the plug-in.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "shader/bendlens.h"

extern "C" {

// Remembers the renderer module and empties every binding-table entry, so
// that every forwarder looks its name up again, in this module, at its next
// call. Not synchronised with the forwarders: the renderer calls it before
// shading begins.
BENDLENS_EXPORT void miSetModuleHandle(HMODULE module);

} // extern "C"
