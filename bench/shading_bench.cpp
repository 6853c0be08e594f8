// One shading call through the plug-in's exported entry point, against the
// floor (the same arithmetic written straight through), for every method,
// measure, mapping and contrast setting; and shading calls on two threads
// against one.
//
// This executable plays the renderer: it defines the five renderer functions
// (bench_renderer.cpp) and exports them, so the plug-in binds to them when it
// is loaded, as it would to the renderer's.
#include <benchmark/benchmark.h>

#if defined(__linux__)
#include <pthread.h>
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
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
    bench::Scene scene;
    bench::make_scene(scene, setup);
    for (auto _ : st) {
        shade(&scene.result, &scene.state, &scene.block.params);
        benchmark::ClobberMemory();
    }
    st.SetItemsProcessed(st.iterations());
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
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
    st.counters["subject_ns"] = library_median;
    st.counters["baseline_ns"] = floor_median;
    st.counters["ratio"] = library_median / floor_median;
    st.SetItemsProcessed(st.iterations() * 2 * batch);
}

// The two threads of a throughput comparison run on two different processors:
// left to the scheduler, a new thread may first share its creator's processor
// for a few time slices, and two threads taking turns on one processor would
// measure the scheduler, not the shader.
struct CpuPinning {
    bool pinned = false;
    int first = 0;
    int second = 0;
#if defined(__linux__)
    cpu_set_t saved;
#endif
};

CpuPinning pin_to_first_cpu() {
    CpuPinning pinning;
#if defined(__linux__)
    if (pthread_getaffinity_np(pthread_self(), sizeof pinning.saved, &pinning.saved) != 0) {
        return pinning;
    }
    int found = 0;
    for (int cpu = 0; cpu < CPU_SETSIZE && found < 2; ++cpu) {
        if (CPU_ISSET(cpu, &pinning.saved)) {
            (found == 0 ? pinning.first : pinning.second) = cpu;
            ++found;
        }
    }
    if (found < 2) {
        return pinning; // one processor: nothing to pin apart
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(pinning.first, &one);
    pinning.pinned = pthread_setaffinity_np(pthread_self(), sizeof one, &one) == 0;
#endif
    return pinning;
}

void pin_to_second_cpu(const CpuPinning& pinning) {
#if defined(__linux__)
    if (pinning.pinned) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(pinning.second, &one);
        pthread_setaffinity_np(pthread_self(), sizeof one, &one);
    }
#else
    (void)pinning;
#endif
}

void unpin(const CpuPinning& pinning) {
#if defined(__linux__)
    if (pinning.pinned) {
        pthread_setaffinity_np(pthread_self(), sizeof pinning.saved, &pinning.saved);
    }
#else
    (void)pinning;
#endif
}

// Processor time used so far by the calling thread, in nanoseconds.
double thread_cpu_ns() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

double now_ns() {
    return std::chrono::duration<double, std::nano>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One batch on one thread: when it started, how long it took, and how much
// processor time the thread got meanwhile.
struct BatchTime {
    double started_ns = 0.0;
    double wall_ns = 0.0;
    double cpu_ns = 0.0;
};

// The second thread's signals and its last batch, on their own cache lines.
struct alignas(64) SecondThread {
    std::atomic<int> start{0}; // the round to run; -1 ends the thread
    std::atomic<int> done{0};  // the last round finished
    BatchTime last;
};

// Throughput on two threads against one, side by side. Each iteration runs a
// batch on the first thread alone, a batch on the second thread alone, and a
// batch on each at once, in rotating order. Each thread shades its own scene;
// the two share nothing but the second thread's start and done flags, touched
// once per batch.
//
// A thread's speed is its batch over its own wall time. The cost of a call
// depends a little on where the thread's stack lies, so the two threads need
// not be equally fast; the comparison therefore sets the two threads' speeds
// added together, running at once, against their mean speed alone. Without
// any interference between them the ratio is exactly 2.
//
// The machine is shared, so a batch may find a processor taken by another
// process: its wall time then exceeds the processor time its thread got, or
// the two threads of a pair did not start together. Such rounds measure the
// machine, not the shader; the ratio is taken over the undisturbed rounds
// (wall time within 5% of the processor time, starts within 5% of the wall
// time), and the ratio over all rounds and the share of undisturbed rounds
// are reported beside it.
void paired_threads(benchmark::State& st, bench::Setup setup, ShadeFunction shade) {
    const int batch = setup.method == 2 ? 256 : 4096;
    bench::Scene scenes[2];
    bench::make_scene(scenes[0], setup);
    bench::make_scene(scenes[1], setup);
    auto run_batch = [batch, shade](bench::Scene& scene) {
        BatchTime t;
        t.started_ns = now_ns();
        const double cpu = thread_cpu_ns();
        for (int i = 0; i < batch; ++i) {
            shade(&scene.result, &scene.state, &scene.block.params);
            benchmark::ClobberMemory();
        }
        t.cpu_ns = thread_cpu_ns() - cpu;
        t.wall_ns = now_ns() - t.started_ns;
        return t;
    };
    auto clean = [](const BatchTime& t) { return t.wall_ns <= 1.05 * t.cpu_ns; };

    SecondThread second;
    const CpuPinning pinning = pin_to_first_cpu();
    std::thread worker([&] {
        pin_to_second_cpu(pinning);
        int seen = 0;
        for (;;) {
            int round;
            while ((round = second.start.load(std::memory_order_acquire)) == seen) {
                std::this_thread::yield();
            }
            if (round < 0) {
                return;
            }
            seen = round;
            second.last = run_batch(scenes[1]);
            second.done.store(round, std::memory_order_release);
        }
    });
    int round = 0;
    auto start_second = [&] { second.start.store(++round, std::memory_order_release); };
    auto wait_second = [&] {
        while (second.done.load(std::memory_order_acquire) != round) {
        }
        return second.last;
    };

    // Time per call of each thread alone and of each thread in a pair; all
    // rounds, and undisturbed ones.
    enum { first_alone, second_alone, first_paired, second_paired };
    std::vector<double> all[4], undisturbed[4];
    auto record = [&](int which, const BatchTime& t, bool ok) {
        all[which].push_back(t.wall_ns / batch);
        if (ok) {
            undisturbed[which].push_back(t.wall_ns / batch);
        }
    };
    auto run_first_alone = [&] {
        const BatchTime t = run_batch(scenes[0]);
        record(first_alone, t, clean(t));
    };
    auto run_second_alone = [&] {
        start_second();
        const BatchTime t = wait_second();
        record(second_alone, t, clean(t));
    };
    auto run_pair = [&] {
        start_second();
        const BatchTime a = run_batch(scenes[0]);
        const BatchTime b = wait_second();
        const double skew =
            a.started_ns > b.started_ns ? a.started_ns - b.started_ns : b.started_ns - a.started_ns;
        const bool ok = clean(a) && clean(b) && skew <= 0.05 * std::min(a.wall_ns, b.wall_ns);
        record(first_paired, a, ok);
        record(second_paired, b, ok);
    };
    int turn = 0;
    for (auto _ : st) {
        for (int k = 0; k < 3; ++k) {
            switch ((turn + k) % 3) {
            case 0:
                run_first_alone();
                break;
            case 1:
                run_second_alone();
                break;
            default:
                run_pair();
                break;
            }
        }
        turn = (turn + 1) % 3;
    }
    second.start.store(-1, std::memory_order_release);
    worker.join();
    unpin(pinning);

    // Speeds in calls per nanosecond, from the median times per call.
    auto ratio_of = [](const std::vector<double>* times, double& alone_ns, double& paired_ns) {
        for (int i = 0; i < 4; ++i) {
            if (times[i].empty()) {
                return false;
            }
        }
        const double alone =
            0.5 * (1.0 / median(times[first_alone]) + 1.0 / median(times[second_alone]));
        const double paired =
            1.0 / median(times[first_paired]) + 1.0 / median(times[second_paired]);
        alone_ns = 1.0 / alone;
        paired_ns = 1.0 / paired;
        return true;
    };
    double alone_ns = 0.0, paired_ns = 0.0, all_alone_ns = 0.0, all_paired_ns = 0.0;
    ratio_of(all, all_alone_ns, all_paired_ns);
    if (!ratio_of(undisturbed, alone_ns, paired_ns)) {
        alone_ns = all_alone_ns;
        paired_ns = all_paired_ns;
    }
    st.counters["subject_ns"] = paired_ns;
    st.counters["baseline_ns"] = alone_ns;
    st.counters["ratio"] = alone_ns / paired_ns;
    st.counters["all_rounds_ratio"] = all_alone_ns / all_paired_ns;
    size_t kept = 0, total = 0;
    for (int i = 0; i < 4; ++i) {
        kept += undisturbed[i].size();
        total += all[i].size();
    }
    st.counters["undisturbed_share"] = double(kept) / double(total);
    st.SetItemsProcessed(st.iterations() * 4 * batch);
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
    // Two threads against one: the library, and as a control the floor, which
    // shares nothing by construction; what the floor loses on two threads the
    // machine takes, not the library.
    for (const bench::Setup& setup :
         {bench::Setup{0, 0, 0, false, 0}, bench::Setup{1, 0, 0, false, 0},
          bench::Setup{2, 0, 0, false, 16}}) {
        benchmark::RegisterBenchmark(("threads/" + case_name(setup)).c_str(), paired_threads, setup,
                                     &bendlens)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("threads_floor/" + case_name(setup)).c_str(), paired_threads,
                                     setup, floor_for(setup.method))
            ->UseRealTime();
    }
}

} // namespace

int main(int argc, char** argv) {
    // --ratios_only: print the comparisons, not every run.
    bool ratios_only = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ratios_only") == 0) {
            ratios_only = true;
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
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

    using Kind = bench::Comparison::Kind;
    bench::RatioReporter reporter(
        {
            {"Full call against its floor", "floor/", "", Kind::paired, 1.25, {"m0/", "m1/"}},
            {"Two threads against one (throughput)", "threads/", "", Kind::paired, 1.9, {}, true},
            {"Two threads against one, the floor as control",
             "threads_floor/",
             "",
             Kind::paired,
             1.9,
             {},
             true},
        },
        ratios_only);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
