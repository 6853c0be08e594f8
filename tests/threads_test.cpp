// Many threads shading at once, each with its own state, parameters and
// result, as the renderer's render threads do: every thread must get the bits
// that one thread alone gets. Under the thread sanitizer this also shows that
// the library shares no mutable data between calls.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "shader/bendlens.h"
#include "shader/shade.h"
#include "tests/golden_cases.h"

namespace {

constexpr int thread_count = 16;

// The exported entry point, which follows the rules this build was made for.
Boolean exported(Colour* result, RenderState* state, const BendlensParameters* params, Platform) {
    return bendlens(result, state, const_cast<BendlensParameters*>(params));
}

struct Entry {
    golden::ShadeFunction shade;
    Platform platform;
};

std::vector<golden::Outcome> shade_all(const Entry& entry, int first) {
    std::vector<golden::Outcome> outcomes(golden::case_count);
    // Each thread starts at a different case so that different methods run
    // side by side.
    for (int k = 0; k < golden::case_count; ++k) {
        const int index = (first + k) % golden::case_count;
        outcomes[size_t(index)] = golden::shade_case(index, entry.platform, entry.shade);
    }
    return outcomes;
}

TEST(Threads, SixteenThreadsShadingAtOnceGiveTheBitsOfOne) {
    const Entry entries[] = {
        {exported, Platform::macos},
        {bl::shade, Platform::windows},
        {bl::shade, Platform::macos},
    };
    for (const Entry& entry : entries) {
        const std::vector<golden::Outcome> alone = shade_all(entry, 0);
        std::vector<std::vector<golden::Outcome>> together(thread_count);
        std::vector<std::thread> threads;
        for (int t = 0; t < thread_count; ++t) {
            threads.emplace_back([&, t] {
                together[size_t(t)] = shade_all(entry, t * (golden::case_count / thread_count));
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        for (int t = 0; t < thread_count; ++t) {
            EXPECT_TRUE(together[size_t(t)] == alone)
                << "thread " << t << ", variant " << int(entry.platform);
        }
    }
}

} // namespace
