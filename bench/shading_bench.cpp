// One shading call through the plug-in's exported entry point, against the
// floor (the same arithmetic written straight through), for every method,
// measure, mapping and contrast setting; and shading calls on two threads
// against one.
//
// This executable plays the renderer: it defines the five renderer functions
// (bench_renderer.cpp) and exports them, so the plug-in binds to them when it
// is loaded, as it would to the renderer's.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_renderer.h"
#include "bench/floor.h"
#include "bench/ratio_reporter.h"
#include "shader/bendlens.h"

namespace {

using ShadeFunction = Boolean (*)(Colour*, RenderState*, BendlensParameters*);

const char* const measure_names[] = {"mean", "gaussian", "interpolated"};
const char* const mapping_names[] = {"two_sided", "positive", "negative"};

ShadeFunction floor_for(int32_t method) {
    switch (method) {
    case 0:
        return straight::shade_derivatives;
    case 1:
        return straight::shade_triangle;
    default:
        return straight::shade_probes;
    }
}

std::string case_name(const bench::Setup& s) {
    std::string method = "m" + std::to_string(s.method);
    if (s.method == 2) {
        method += "x" + std::to_string(s.probes);
    }
    return method + "/" + measure_names[s.measure] + "/" + mapping_names[s.mapping] +
           (s.contrast ? "/contrast" : "/plain");
}

std::vector<bench::Setup> all_setups() {
    std::vector<bench::Setup> setups;
    const int32_t method_probes[][2] = {{0, 0}, {1, 0}, {2, 1}, {2, 16}, {2, 64}};
    for (const auto& mp : method_probes) {
        for (int32_t measure = 0; measure < 3; ++measure) {
            for (int32_t mapping = 0; mapping < 3; ++mapping) {
                for (bool contrast : {false, true}) {
                    setups.push_back(bench::Setup{mp[0], measure, mapping, contrast, mp[1]});
                }
            }
        }
    }
    return setups;
}

uint32_t bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The floor stands for the library only if it computes the same bits: the
// result colour and the state the call leaves behind.
bool floor_agrees(const std::vector<bench::Setup>& setups) {
    bool agree = true;
    for (const bench::Setup& setup : setups) {
        bench::Scene library, floor;
        bench::make_scene(library, setup);
        bench::make_scene(floor, setup);
        // Mark the colour so that a call that writes nothing is seen too.
        library.result = floor.result = Colour{-7.0f, -7.0f, -7.0f, 0.25f};
        library.state.primitive = floor.state.primitive = &library;
        bendlens(&library.result, &library.state, &library.block.params);
        floor_for(setup.method)(&floor.result, &floor.state, &floor.block.params);
        const float lib[] = {library.result.r,           library.result.g,
                             library.result.b,           library.result.a,
                             library.state.ray_origin.x, library.state.ray_origin.y,
                             library.state.ray_origin.z};
        const float flo[] = {floor.result.r,           floor.result.g,
                             floor.result.b,           floor.result.a,
                             floor.state.ray_origin.x, floor.state.ray_origin.y,
                             floor.state.ray_origin.z};
        bool same = library.state.primitive == floor.state.primitive;
        for (size_t i = 0; i < sizeof lib / sizeof lib[0]; ++i) {
            same = same && bits(lib[i]) == bits(flo[i]);
        }
        if (!same) {
            std::fprintf(stderr, "floor differs from the library for %s: %a against %a\n",
                         case_name(setup).c_str(), double(flo[0]), double(lib[0]));
            agree = false;
        }
    }
    return agree;
}

void shade_calls(benchmark::State& st, bench::Setup setup, ShadeFunction shade) {
    // Each thread shades its own scene, aligned to its own cache lines.
    bench::Scene scene;
    bench::make_scene(scene, setup);
    for (auto _ : st) {
        shade(&scene.result, &scene.state, &scene.block.params);
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(st.iterations());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// The library and its floor side by side: each iteration times a batch of
// library calls and a batch of floor calls, in alternating order, and the
// ratio is that of the median batches. Whatever else the machine does at a
// given moment then falls on both alike, and a batch cut short by another
// process is left out by the median.
void paired_calls(benchmark::State& st, bench::Setup setup) {
    using clock = std::chrono::steady_clock;
    constexpr int batch = 256;
    bench::Scene library, floor;
    bench::make_scene(library, setup);
    bench::make_scene(floor, setup);
    const ShadeFunction floor_call = floor_for(setup.method);
    std::vector<double> library_ns, floor_ns;
    auto time_batch = [](ShadeFunction shade, bench::Scene& scene) {
        const clock::time_point start = clock::now();
        for (int i = 0; i < batch; ++i) {
            shade(&scene.result, &scene.state, &scene.block.params);
            benchmark::ClobberMemory();
        }
        return std::chrono::duration<double, std::nano>(clock::now() - start).count() / batch;
    };
    bool library_first = true;
    for (auto _ : st) {
        if (library_first) {
            library_ns.push_back(time_batch(&bendlens, library));
            floor_ns.push_back(time_batch(floor_call, floor));
        } else {
            floor_ns.push_back(time_batch(floor_call, floor));
            library_ns.push_back(time_batch(&bendlens, library));
        }
        library_first = !library_first;
    }
    const double library_median = median(library_ns);
    const double floor_median = median(floor_ns);
    st.counters["library_ns"] = library_median;
    st.counters["floor_ns"] = floor_median;
    st.counters["ratio"] = library_median / floor_median;
    st.SetItemsProcessed(st.iterations() * 2 * batch);
}

void register_benchmarks(const std::vector<bench::Setup>& setups) {
    // One shading call through the exported entry point, for every case.
    for (const bench::Setup& setup : setups) {
        benchmark::RegisterBenchmark(("shade/" + case_name(setup)).c_str(), shade_calls, setup,
                                     &bendlens);
    }
    // The library against its floor, each case in one benchmark.
    for (const bench::Setup& setup : setups) {
        benchmark::RegisterBenchmark(("floor/" + case_name(setup)).c_str(), paired_calls, setup);
    }
    // Throughput on one and two threads, each with its own state.
    for (const bench::Setup& setup :
         {bench::Setup{0, 0, 0, false, 0}, bench::Setup{1, 0, 0, false, 0},
          bench::Setup{2, 0, 0, false, 16}}) {
        benchmark::RegisterBenchmark(("threads/" + case_name(setup)).c_str(), shade_calls, setup,
                                     &bendlens)
            ->Threads(1)
            ->Threads(2)
            ->UseRealTime();
    }
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const std::vector<bench::Setup> setups = all_setups();
    if (!floor_agrees(setups)) {
        return 1;
    }
    std::printf("floor agrees with the library to the bit in all %zu cases\n", setups.size());
    register_benchmarks(setups);

    bench::RatioReporter reporter({
        {"Full call against its floor",
         "floor/",
         "",
         bench::Comparison::Kind::paired,
         1.25,
         {"m0/", "m1/"}},
        {"Two threads against one (throughput)",
         "threads/",
         "threads/",
         bench::Comparison::Kind::throughput,
         1.9,
         {}},
    });
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
