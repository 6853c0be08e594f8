// End to end: this program plays the renderer. It exports the five renderer
// functions, loads the real bendlens.dll, hands over its own module handle,
// and shades a fixed set of inputs. The results must match those the library
// code gives natively under the Windows rules (shading_reference, written at
// build time): bit for bit for method 0 and the output stage, and within one
// float ulp for methods 1 and 2, whose square roots, arc cosines, cosines
// and sines in double come from each platform's own runtime.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/windows/shading_cases.h"

namespace {

struct Reference {
    uint32_t r, g, b, a;
};

std::vector<Reference> read_reference(const char* path) {
    std::vector<Reference> out;
    std::FILE* in = std::fopen(path, "r");
    if (in == nullptr) {
        return out;
    }
    unsigned r, g, b, a;
    while (std::fscanf(in, "%x %x %x %x", &r, &g, &b, &a) == 4) {
        out.push_back({r, g, b, a});
    }
    std::fclose(in);
    return out;
}

// Distance in units in the last place, counting across zero; NaNs of equal
// bits are no distance apart.
int64_t ulps_apart(uint32_t x, uint32_t y) {
    const auto ordered = [](uint32_t u) {
        return (u & 0x80000000u) != 0 ? -int64_t(u & 0x7fffffffu) : int64_t(u);
    };
    return std::llabs(ordered(x) - ordered(y));
}

template <typename Function> Function find(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

TEST(RealPlugin, ShadesAsTheNativeBuildUnderTheWindowsRules) {
    const std::vector<Reference> reference = read_reference("shading_reference.txt");
    ASSERT_EQ(reference.size(), size_t(cases::count)) << "shading_reference.txt missing or short";

    const HMODULE plugin = LoadLibraryA("bendlens.dll");
    ASSERT_NE(plugin, nullptr);
    const auto set_module_handle = find<void (*)(HMODULE)>(plugin, "miSetModuleHandle");
    const auto version = find<int (*)()>(plugin, "bendlens_version");
    const auto shade = find<cases::ShadeFunction>(plugin, "bendlens");
    ASSERT_NE(set_module_handle, nullptr);
    ASSERT_NE(version, nullptr);
    ASSERT_NE(shade, nullptr);

    // The renderer's start-up: its module first, then the version.
    set_module_handle(GetModuleHandleW(nullptr));
    EXPECT_EQ(version(), 1);

    int exact = 0, close = 0;
    for (int i = 0; i < cases::count; ++i) {
        const cases::Case c = cases::make(i);
        const Colour got = cases::shade(c, shade);
        const Reference& want = reference[size_t(i)];
        const uint32_t channels[3][2] = {{cases::bits(got.r), want.r},
                                         {cases::bits(got.g), want.g},
                                         {cases::bits(got.b), want.b}};
        EXPECT_EQ(cases::bits(got.a), want.a) << "case " << i << ": alpha is never written";
        for (const auto& channel : channels) {
            if (c.params.method == 0) {
                EXPECT_EQ(channel[0], channel[1]) << "case " << i;
            } else {
                EXPECT_LE(ulps_apart(channel[0], channel[1]), 1) << "case " << i;
            }
        }
        (channels[0][0] == channels[0][1] ? exact : close) += 1;
    }
    // Half the cases read their parameters through the renderer.
    EXPECT_GT(cases::phen_eval_calls, cases::count);
    std::printf("%d of %d cases the same bits, %d within one ulp\n", exact, cases::count, close);
}

} // namespace
