// The exported entry points. Each passes the renderer variant this build was
// made for; the rest of the library is shared by both variants.
#include "shader/bendlens.h"
#include "shader/shade.h"

namespace {

#if defined(BENDLENS_WINDOWS_RULES)
constexpr Platform build_platform = Platform::windows;
#else
constexpr Platform build_platform = Platform::macos;
#endif

} // namespace

extern "C" {

BENDLENS_EXPORT Boolean bendlens(Colour* result, RenderState* state, BendlensParameters* params) {
    return bl::shade(result, state, params, build_platform);
}

BENDLENS_EXPORT int bendlens_version(void) {
    return 1;
}

BENDLENS_EXPORT void bendlens_init(RenderState*, BendlensParameters* params,
                                   Boolean* init_request) {
    if (params == nullptr && init_request != nullptr) {
        *init_request = 0;
    }
}

BENDLENS_EXPORT void bendlens_exit(RenderState*, BendlensParameters*) {}

} // extern "C"
