// Built natively: shades every case with the library's code under the Windows
// rules and writes the result bits, one case a line, for the Wine test to
// compare the real bendlens.dll against.
#include <cstdio>

#include "shader/shade.h"
#include "tests/windows/shading_cases.h"

namespace {

Boolean shade_as_windows(Colour* result, RenderState* state, BendlensParameters* params) {
    return bl::shade(result, state, params, Platform::windows);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s output-file\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (out == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    for (int i = 0; i < cases::count; ++i) {
        const Colour c = cases::shade(cases::make(i), shade_as_windows);
        std::fprintf(out, "%08x %08x %08x %08x\n", unsigned(cases::bits(c.r)),
                     unsigned(cases::bits(c.g)), unsigned(cases::bits(c.b)),
                     unsigned(cases::bits(c.a)));
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
