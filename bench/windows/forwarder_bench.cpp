// A renderer function called through its plain forwarder (the binding's
// assembly stub, entry already resolved) against the same function called
// straight through a function pointer, under Wine. Each round times a batch
// of forwarder calls and a batch of pointer calls, in alternating order; the
// ratio is that of the median batches, and each comparison is repeated to
// show its spread.
//
// Google Benchmark is not at hand for MinGW (Debian packages it for the
// native compiler only), and the comparison needs nothing of it but a clock:
// QueryPerformanceCounter.
//
// Usage: bendlens_forwarder_bench [rounds [repetitions]]
//   the renderer module, bendlens_bench_renderer.dll, is looked for next to
//   the program.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "hostbind/binding.h"
#include "hostbind/module_handle.h"
#include "shader/renderer.h"

namespace {

constexpr int batch = 16384;

using SplineFunction = float (*)(float, int, float*);
using TriangleFunction = Boolean (*)(RenderState*, int, int, Vector**, Vector**, Vector**);

float control[3] = {0.0f, 0.3f, 1.0f};

} // namespace

// The control: the least any forwarder can be, a single jump through a slot,
// as an import thunk is. It shows how much of the forwarder's cost is the
// extra jump itself rather than the stub's check of its entry.
extern "C" {
void* bench_spline_slot = nullptr;
void* bench_triangle_slot = nullptr;
float bench_spline_thunk(float t, int count, float* control);
Boolean bench_triangle_thunk(RenderState* state, int which, int count, Vector** a, Vector** b,
                             Vector** c);
}
asm(R"(
        .text
        .p2align 4
        .globl bench_spline_thunk
bench_spline_thunk:
        jmp *bench_spline_slot(%rip)
        .p2align 4
        .globl bench_triangle_thunk
bench_triangle_thunk:
        jmp *bench_triangle_slot(%rip)
)");

namespace {

// The same loop twice, once calling the forwarder by name (a direct call to
// the stub, as the plug-in's own code calls it), once through a pointer.
// Kept out of line so that both compile alike, each on its own.
__attribute__((noinline)) float spline_forwarder() {
    float sum = 0.0f;
    for (int i = 0; i < batch; ++i) {
        sum += mi_spline(float(i) * (1.0f / batch), 3, control);
    }
    return sum;
}

__attribute__((noinline)) float spline_thunk() {
    float sum = 0.0f;
    for (int i = 0; i < batch; ++i) {
        sum += bench_spline_thunk(float(i) * (1.0f / batch), 3, control);
    }
    return sum;
}

__attribute__((noinline)) float spline_pointer(SplineFunction f) {
    float sum = 0.0f;
    for (int i = 0; i < batch; ++i) {
        sum += f(float(i) * (1.0f / batch), 3, control);
    }
    return sum;
}

__attribute__((noinline)) int triangle_forwarder(RenderState* state) {
    int sum = 0;
    Vector *a = nullptr, *b = nullptr, *c = nullptr;
    for (int i = 0; i < batch; ++i) {
        sum += mi_tri_vectors(state, (i & 1) != 0 ? 'n' : 'p', 1, &a, &b, &c);
    }
    return sum + (a != nullptr ? 1 : 0);
}

__attribute__((noinline)) int triangle_thunk(RenderState* state) {
    int sum = 0;
    Vector *a = nullptr, *b = nullptr, *c = nullptr;
    for (int i = 0; i < batch; ++i) {
        sum += bench_triangle_thunk(state, (i & 1) != 0 ? 'n' : 'p', 1, &a, &b, &c);
    }
    return sum + (a != nullptr ? 1 : 0);
}

__attribute__((noinline)) int triangle_pointer(TriangleFunction f, RenderState* state) {
    int sum = 0;
    Vector *a = nullptr, *b = nullptr, *c = nullptr;
    for (int i = 0; i < batch; ++i) {
        sum += f(state, (i & 1) != 0 ? 'n' : 'p', 1, &a, &b, &c);
    }
    return sum + (a != nullptr ? 1 : 0);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

double ns_per_tick = 0.0;

// Nanoseconds per call of one batch.
template <class Batch> double time_batch(Batch run, bool& agree, double expected) {
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    const double result = double(run());
    QueryPerformanceCounter(&end);
    agree = agree && result == expected;
    return double(end.QuadPart - start.QuadPart) * ns_per_tick / batch;
}

struct Figures {
    double forwarder_ns, pointer_ns, ratio;
};

// One repetition: rounds of a forwarder batch and a pointer batch, the
// order switched every round. agree stays true while both give the same
// result.
template <class Forwarder, class Pointer>
Figures compare(Forwarder forwarder, Pointer pointer, int rounds, bool& agree) {
    const double expected = double(forwarder());
    std::vector<double> through_forwarder, through_pointer;
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0) {
            through_forwarder.push_back(time_batch(forwarder, agree, expected));
            through_pointer.push_back(time_batch(pointer, agree, expected));
        } else {
            through_pointer.push_back(time_batch(pointer, agree, expected));
            through_forwarder.push_back(time_batch(forwarder, agree, expected));
        }
    }
    const double f = median(through_forwarder), p = median(through_pointer);
    return {f, p, f / p};
}

void report(const char* name, std::vector<Figures> runs, bool targeted) {
    std::vector<double> f, p, r;
    for (const Figures& run : runs) {
        f.push_back(run.forwarder_ns);
        p.push_back(run.pointer_ns);
        r.push_back(run.ratio);
    }
    const auto [lo, hi] = std::minmax_element(r.begin(), r.end());
    const double ratio = median(r);
    std::printf("  %-28s %12.3f %12.3f %7.3f  (%.3f to %.3f)%s\n", name, median(f), median(p),
                ratio, *lo, *hi, !targeted || ratio <= 1.1 ? "" : "  MISSED");
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 1000;
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;

    HMODULE module = LoadLibraryA("bendlens_bench_renderer.dll");
    if (module == nullptr) {
        std::fprintf(stderr, "cannot load bendlens_bench_renderer.dll\n");
        return 1;
    }
    miSetModuleHandle(module);
    const auto spline = reinterpret_cast<SplineFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "mi_spline")));
    const auto triangle = reinterpret_cast<TriangleFunction>(
        reinterpret_cast<void*>(GetProcAddress(module, "mi_tri_vectors")));
    if (spline == nullptr || triangle == nullptr) {
        std::fprintf(stderr, "the renderer module lacks mi_spline or mi_tri_vectors\n");
        return 1;
    }
    // Resolve both forwarders before anything is timed, and check that they
    // reach the same functions.
    RenderState state{};
    spline_forwarder();
    triangle_forwarder(&state);
    if (bl_binding_table[bl::binding_mi_spline].load() != reinterpret_cast<void*>(spline) ||
        bl_binding_table[bl::binding_mi_tri_vectors].load() != reinterpret_cast<void*>(triangle)) {
        std::fprintf(stderr, "the forwarders did not resolve to the module's functions\n");
        return 1;
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ns_per_tick = 1e9 / double(frequency.QuadPart);

    bench_spline_slot = reinterpret_cast<void*>(spline);
    bench_triangle_slot = reinterpret_cast<void*>(triangle);

    bool agree = true;
    std::vector<Figures> spline_runs, triangle_runs, spline_thunk_runs, triangle_thunk_runs;
    for (int r = 0; r < repetitions; ++r) {
        spline_thunk_runs.push_back(compare([] { return spline_thunk(); },
                                            [spline] { return spline_pointer(spline); }, rounds,
                                            agree));
        triangle_thunk_runs.push_back(compare([&state] { return triangle_thunk(&state); },
                                              [&] { return triangle_pointer(triangle, &state); },
                                              rounds, agree));
        spline_runs.push_back(compare([] { return spline_forwarder(); },
                                      [spline] { return spline_pointer(spline); }, rounds, agree));
        triangle_runs.push_back(compare([&state] { return triangle_forwarder(&state); },
                                        [&] { return triangle_pointer(triangle, &state); }, rounds,
                                        agree));
    }
    if (!agree) {
        std::fprintf(stderr, "forwarder and pointer calls gave different results\n");
        return 1;
    }
    std::printf("\nForwarder against a direct pointer call (target <= 1.10); %d repetitions of "
                "%d rounds of %d calls, timer %.0f ns a tick\n",
                repetitions, rounds, batch, ns_per_tick);
    std::printf("  %-28s %12s %12s %7s\n", "case", "forwarder ns", "pointer ns", "ratio");
    report("mi_spline (float)", spline_runs, true);
    report("mi_tri_vectors (integer)", triangle_runs, true);
    std::printf("Control, no target: a single jump through a slot against the pointer call\n");
    report("mi_spline (float)", spline_thunk_runs, false);
    report("mi_tri_vectors (integer)", triangle_thunk_runs, false);
    return 0;
}
