// The forwarders under Wine, against a test renderer DLL that exports every
// name: arguments and results pass through on first and later calls, names
// are looked up once per handed-over module, failures are reported line by
// line, and the message and code-dependent forwarders pass on what their
// tables say.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "hostbind/binding.h"
#include "hostbind/module_handle.h"
#include "tests/windows/forwarder_addresses.h"
#include "tests/windows/test_renderer.h"

// The forwarders that read variable arguments, as the binding defines them.
extern "C" {
intptr_t mi_info(const char* format, ...);
intptr_t mi_nwarning(int32_t number, const char* format, ...);
intptr_t mi_query(int32_t code, void* state, uint32_t tag, void* result, ...);
intptr_t mi_scene_create(void* first, int32_t type, ...);
intptr_t mi_scene_recreate(uint32_t tag, int32_t type, ...);

// This program's import slot for GetProcAddress, through which the binding
// (linked in here) calls it.
extern FARPROC(WINAPI* __imp_GetProcAddress)(HMODULE, LPCSTR);
}

namespace {

struct Name {
    const char* name;
    const char* kind;
};

const Name names[bl::binding_count] = {
#define BL_NAME(name, kind) {#name, #kind},
#include "hostbind/names.def"
#undef BL_NAME
};

bool is(uint32_t index, const char* kind) {
    return std::strcmp(names[index].kind, kind) == 0;
}

// ---- Watching GetProcAddress ------------------------------------------------

struct Lookup {
    HMODULE module;
    std::string name;
};

struct LookupLog {
    std::mutex mutex;
    std::vector<Lookup> lookups;
    // Nonzero: every lookup fails, with this error code and then the next.
    DWORD forced_error = 0;
    // Set: every lookup throws, as a debugger's or a crash handler's stack
    // walk would pass through it.
    bool throws = false;
};

struct LookupInterrupted {
    void* frames[64];
    USHORT depth;
};

LookupLog lookup_log;
FARPROC(WINAPI* real_get_proc_address)(HMODULE, LPCSTR) = nullptr;

FARPROC WINAPI watched_get_proc_address(HMODULE module, LPCSTR name) {
    if (reinterpret_cast<uintptr_t>(name) > 0xffff && std::strncmp(name, "mi_", 3) == 0) {
        std::lock_guard<std::mutex> lock(lookup_log.mutex);
        lookup_log.lookups.push_back({module, name});
        if (lookup_log.throws) {
            lookup_log.throws = false;
            LookupInterrupted interrupted{};
            interrupted.depth = RtlCaptureStackBackTrace(0, 64, interrupted.frames, nullptr);
            throw interrupted;
        }
        if (lookup_log.forced_error != 0) {
            SetLastError(lookup_log.forced_error++);
            return nullptr;
        }
    }
    return real_get_proc_address(module, name);
}

void watch_lookups() {
    if (real_get_proc_address != nullptr) {
        return;
    }
    real_get_proc_address = __imp_GetProcAddress;
    DWORD old;
    VirtualProtect(&__imp_GetProcAddress, sizeof(void*), PAGE_READWRITE, &old);
    __imp_GetProcAddress = &watched_get_proc_address;
    VirtualProtect(&__imp_GetProcAddress, sizeof(void*), old, &old);
}

std::vector<Lookup> take_lookups() {
    std::lock_guard<std::mutex> lock(lookup_log.mutex);
    std::vector<Lookup> out;
    out.swap(lookup_log.lookups);
    return out;
}

size_t lookups_of(const std::vector<Lookup>& lookups, const char* name) {
    size_t n = 0;
    for (const Lookup& l : lookups) {
        n += l.name == name ? 1 : 0;
    }
    return n;
}

// ---- Capturing the standard error stream ------------------------------------

struct StderrCapture {
    char path[MAX_PATH];
    int file = -1;
    int saved = -1;

    StderrCapture() {
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        GetTempFileNameA(dir, "blt", 0, path);
        std::fflush(stderr);
        file = _open(path, _O_RDWR | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
        saved = _dup(2);
        _dup2(file, 2);
    }

    std::string finish() {
        std::fflush(stderr);
        _dup2(saved, 2);
        _close(saved);
        std::string text;
        _lseek(file, 0, SEEK_SET);
        char buffer[4096];
        int n;
        while ((n = _read(file, buffer, sizeof buffer)) > 0) {
            text.append(buffer, size_t(n));
        }
        _close(file);
        DeleteFileA(path);
        return text;
    }
};

size_t count_lines(const std::string& text, const std::string& start) {
    size_t n = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        n += text.compare(at, start.size(), start) == 0 ? 1 : 0;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return n;
}

// ---- The test renderer -----------------------------------------------------

struct TestRenderer {
    HMODULE module;
    TestRendererState* state;
};

TestRenderer load_renderer(const char* file) {
    TestRenderer r{LoadLibraryA(file), nullptr};
    if (r.module != nullptr) {
        r.state = reinterpret_cast<TestRendererStateFunction>(
            reinterpret_cast<void*>(GetProcAddress(r.module, "test_renderer")))();
    }
    return r;
}

class Binding : public ::testing::Test {
  protected:
    void SetUp() override {
        watch_lookups();
        lookup_log.forced_error = 0;
        lookup_log.throws = false;
        first = load_renderer("bendlens_test_renderer.dll");
        second = load_renderer("bendlens_test_renderer_copy.dll");
        ASSERT_NE(first.state, nullptr);
        ASSERT_NE(second.state, nullptr);
        ASSERT_NE(first.module, second.module);
        miSetModuleHandle(first.module);
        take_lookups();
    }
    void TearDown() override {
        lookup_log.forced_error = 0;
        miSetModuleHandle(nullptr);
    }

    TestRenderer first{}, second{};
};

uint64_t bits(double v) {
    uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}
uint32_t bits(float v) {
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}
uint32_t low(uint64_t v) {
    return static_cast<uint32_t>(v);
}

// ---- Plain forwarders -------------------------------------------------------

using IntegerCall = int64_t (*)(int64_t, int64_t, int64_t, int64_t, int64_t, int64_t, int64_t);
using DoubleCall = double (*)(double, double, double, double, double, double);
using MixedCall = float (*)(float, void*, int32_t, double, float, void*, double);

// Calls plain forwarder i with integers, doubles and a mix, each on its first
// call (the lookup) and on a later one, and checks what the renderer got and
// what came back.
void check_passes_through(uint32_t i, TestRendererState& s, int round) {
    const auto f = forwarder_addresses[i];
    const int64_t k = int64_t(i) * 1000 + round;
    const TestRendererCall& c = s.last;

    s.result_integer = uint64_t(0x7edcba9876543210 + k);
    s.result_vector = bits(1.0 / double(k + 3));
    const int64_t got_integer =
        reinterpret_cast<IntegerCall>(f)(k, -k, k << 20, INT64_MIN + k, k * 7, -3, k ^ 0x55);
    ASSERT_EQ(c.index, i) << names[i].name;
    EXPECT_EQ(got_integer, int64_t(s.result_integer)) << names[i].name;
    const int64_t expected[7] = {k, -k, k << 20, INT64_MIN + k, k * 7, -3, k ^ 0x55};
    for (int a = 0; a < 4; ++a) {
        EXPECT_EQ(int64_t(c.integer[a]), expected[a]) << names[i].name << " argument " << a;
    }
    for (int a = 4; a < 7; ++a) {
        EXPECT_EQ(int64_t(c.stack[a - 4]), expected[a]) << names[i].name << " argument " << a;
    }

    const double d[6] = {0.5 + double(k), -1e300, 3e-310, -0.0, double(k) / 7.0, 1e10};
    const double got_double = reinterpret_cast<DoubleCall>(f)(d[0], d[1], d[2], d[3], d[4], d[5]);
    ASSERT_EQ(c.index, i);
    EXPECT_EQ(bits(got_double), s.result_vector) << names[i].name;
    for (int a = 0; a < 4; ++a) {
        EXPECT_EQ(c.vector[a], bits(d[a])) << names[i].name << " argument " << a;
    }
    EXPECT_EQ(c.stack[0], bits(d[4])) << names[i].name;
    EXPECT_EQ(c.stack[1], bits(d[5])) << names[i].name;

    s.result_vector = bits(float(k) * 0.25f);
    void* const p = &s;
    const float got_float = reinterpret_cast<MixedCall>(f)(float(k) + 0.5f, p, int32_t(-k), 2.5,
                                                           -float(k), p, 1.0 / 3.0);
    ASSERT_EQ(c.index, i);
    EXPECT_EQ(bits(got_float), low(s.result_vector)) << names[i].name;
    EXPECT_EQ(low(c.vector[0]), bits(float(k) + 0.5f)) << names[i].name;
    EXPECT_EQ(c.integer[1], reinterpret_cast<uint64_t>(p)) << names[i].name;
    EXPECT_EQ(low(c.integer[2]), uint32_t(int32_t(-k))) << names[i].name;
    EXPECT_EQ(c.vector[3], bits(2.5)) << names[i].name;
    EXPECT_EQ(low(c.stack[0]), bits(-float(k))) << names[i].name;
    EXPECT_EQ(c.stack[1], reinterpret_cast<uint64_t>(p)) << names[i].name;
    EXPECT_EQ(c.stack[2], bits(1.0 / 3.0)) << names[i].name;
}

TEST_F(Binding, PlainForwardersPassArgumentsAndResultsThrough) {
    // Each round starts with an empty table, so that its first call of every
    // forwarder goes through the lookup, and its second one straight through.
    for (int round = 0; round < 2; ++round) {
        miSetModuleHandle(first.module);
        size_t plain = 0;
        for (uint32_t i = 0; i < bl::binding_count; ++i) {
            if (is(i, "plain")) {
                ++plain;
                check_passes_through(i, *first.state, round * 2);
                check_passes_through(i, *first.state, round * 2 + 1);
                if (::testing::Test::HasFatalFailure()) {
                    return;
                }
            }
        }
        EXPECT_EQ(plain, 676u);
        EXPECT_EQ(take_lookups().size(), plain); // one lookup each, on the first call
    }
}

TEST_F(Binding, FloatArgumentsSurviveTheFirstCall) {
    // The first call's lookup runs C++ code, which may use every vector
    // register: the arguments must still reach the renderer unchanged.
    const auto spline =
        reinterpret_cast<float (*)(float, int, float*)>(forwarder_addresses[bl::binding_mi_spline]);
    float control[3] = {0.0f, 0.5f, 1.0f};
    first.state->result_vector = bits(0.625f);
    EXPECT_EQ(bits(spline(0.375f, 3, control)), bits(0.625f));
    EXPECT_EQ(low(first.state->last.vector[0]), bits(0.375f));
    EXPECT_EQ(low(first.state->last.integer[1]), 3u);
    EXPECT_EQ(first.state->last.integer[2], reinterpret_cast<uint64_t>(control));
}

// Fills the stack below the caller with a value no walk may mistake for a
// return address, so that a walk can only succeed by the unwind information.
__attribute__((noinline)) void scribble_below() {
    volatile uint64_t junk[64];
    for (volatile uint64_t& j : junk) {
        j = 0x0bad0bad0bad0badu;
    }
}

// The caller of a forwarder, at a known place in the code.
__attribute__((noinline)) int64_t call_random_from_here() {
    scribble_below();
    const int64_t r = reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_random])();
    asm volatile("");
    return r;
}

TEST_F(Binding, StackWalksAndExceptionsPassThroughALookup) {
    // The lookup runs inside the stubs' shared routine; its unwind information
    // lets a walk find the forwarder's caller, and an exception reach it.
    lookup_log.throws = true;
    bool caught = false;
    try {
        call_random_from_here();
    } catch (const LookupInterrupted& interrupted) {
        caught = true;
        // Walked frame by frame: hook, lookup, shared routine, then the caller,
        // and nothing read from the scribbled stack on the way.
        const auto start = reinterpret_cast<uintptr_t>(&call_random_from_here);
        bool found = false;
        for (USHORT i = 0; i < interrupted.depth && !found; ++i) {
            const auto at = reinterpret_cast<uintptr_t>(interrupted.frames[i]);
            ASSERT_NE(at, 0x0bad0bad0bad0badu)
                << "frame " << i << " came from no unwind information";
            found = at > start && at < start + 96;
        }
        EXPECT_TRUE(found) << "the walk did not reach the forwarder's caller";
    }
    EXPECT_TRUE(caught);
}

// ---- Lookups ----------------------------------------------------------------

TEST_F(Binding, ANameIsLookedUpOncePerHandOver) {
    const auto f = reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_random]);
    const int64_t first_calls = first.state->calls[bl::binding_mi_random];
    const int64_t second_calls = second.state->calls[bl::binding_mi_random];
    for (int i = 0; i < 3; ++i) {
        f();
    }
    std::vector<Lookup> lookups = take_lookups();
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0].module, first.module);
    EXPECT_EQ(lookups[0].name, "mi_random");
    EXPECT_EQ(first.state->calls[bl::binding_mi_random] - first_calls, 3);

    // The same module handed over again: every entry is looked up again.
    miSetModuleHandle(first.module);
    f();
    f();
    EXPECT_EQ(take_lookups().size(), 1u);

    // Another module: the calls now reach it.
    miSetModuleHandle(second.module);
    f();
    lookups = take_lookups();
    ASSERT_EQ(lookups.size(), 1u);
    EXPECT_EQ(lookups[0].module, second.module);
    EXPECT_EQ(first.state->calls[bl::binding_mi_random] - first_calls, 5);
    EXPECT_EQ(second.state->calls[bl::binding_mi_random] - second_calls, 1);
}

TEST_F(Binding, AResolvedCallWritesNothing) {
    const auto f = reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_random]);
    f();
    StderrCapture capture;
    f();
    EXPECT_EQ(capture.finish(), "");
}

TEST_F(Binding, ACallWithoutAModuleReportsItAndStillLooksUp) {
    miSetModuleHandle(nullptr);
    lookup_log.forced_error = 1234;
    StderrCapture capture;
    const double got =
        reinterpret_cast<double (*)(double)>(forwarder_addresses[bl::binding_mi_noise_1d])(0.5);
    const int64_t got_integer =
        reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_par_nthreads])();
    const std::string text = capture.finish();
    EXPECT_EQ(text, "DYNLOAD: dl_handle null\n"
                    "dlsym failed on \"mi_noise_1d\" (handle: 00000000 error: 1234)\n"
                    "DYNLOAD: dl_handle null\n"
                    "dlsym failed on \"mi_par_nthreads\" (handle: 00000000 error: 1235)\n");
    const std::vector<Lookup> lookups = take_lookups();
    ASSERT_EQ(lookups.size(), 2u);
    EXPECT_EQ(lookups[0].module, nullptr);
    // No function to call: zero in both result registers.
    EXPECT_EQ(bits(got), 0u);
    EXPECT_EQ(got_integer, 0);
}

TEST_F(Binding, ACallWithoutAModuleLooksUpWithTheNullHandle) {
    // The real lookup this time: whatever it finds, the report comes first.
    miSetModuleHandle(nullptr);
    StderrCapture capture;
    reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_par_nthreads])();
    const std::string text = capture.finish();
    EXPECT_EQ(text.compare(0, 24, "DYNLOAD: dl_handle null\n"), 0) << text;
    EXPECT_EQ(take_lookups().size(), 1u);
}

TEST_F(Binding, AMissingNameIsReportedAtEveryCallWithThatCallsError) {
    // A module that exports none of the renderer's names.
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    miSetModuleHandle(kernel);
    char handle[16];
    std::snprintf(handle, sizeof handle, "%08x", unsigned(reinterpret_cast<uintptr_t>(kernel)));
    const auto f = reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_random]);
    {
        StderrCapture capture;
        EXPECT_EQ(f(), 0);
        EXPECT_EQ(capture.finish(), std::string("dlsym failed on \"mi_random\" (handle: ") +
                                        handle + " error: 127)\n");
    }
    lookup_log.forced_error = 501;
    StderrCapture capture;
    f();
    f();
    f();
    EXPECT_EQ(capture.finish(),
              std::string("dlsym failed on \"mi_random\" (handle: ") + handle + " error: 501)\n" +
                  "dlsym failed on \"mi_random\" (handle: " + handle + " error: 502)\n" +
                  "dlsym failed on \"mi_random\" (handle: " + handle + " error: 503)\n");
    EXPECT_EQ(lookups_of(take_lookups(), "mi_random"), 4u);
}

TEST_F(Binding, TheReportShowsTheHandlesLow32Bits) {
    miSetModuleHandle(reinterpret_cast<HMODULE>(uintptr_t(0x123456789abcdef0)));
    lookup_log.forced_error = 7;
    StderrCapture capture;
    reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_random])();
    EXPECT_EQ(capture.finish(), "dlsym failed on \"mi_random\" (handle: 9abcdef0 error: 7)\n");
}

TEST_F(Binding, ThreadsRacingOnAFirstCallAllBindTheSameAddress) {
    constexpr int thread_count = 16;
    const auto f = reinterpret_cast<int64_t (*)(int64_t)>(forwarder_addresses[bl::binding_mi_lock]);
    first.state->result_integer = 4242;
    const int64_t calls_before = first.state->calls[bl::binding_mi_lock];
    std::atomic<int> ready{0};
    std::atomic<int> right_results{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < thread_count) {
            }
            right_results.fetch_add(f(t) == 4242 ? 1 : 0);
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    EXPECT_EQ(right_results.load(), thread_count);
    EXPECT_EQ(first.state->calls[bl::binding_mi_lock] - calls_before, thread_count);
    EXPECT_EQ(bl_binding_table[bl::binding_mi_lock].load(),
              reinterpret_cast<void*>(GetProcAddress(first.module, "mi_lock")));
    const size_t lookups = take_lookups().size();
    EXPECT_GE(lookups, 1u);
    EXPECT_LE(lookups, size_t(thread_count));
}

TEST_F(Binding, ThreadsRacingOnAMissingNameEachReportTheirLookup) {
    constexpr int thread_count = 16;
    lookup_log.forced_error = 900;
    const auto f = reinterpret_cast<int64_t (*)()>(forwarder_addresses[bl::binding_mi_unlock]);
    std::atomic<int> ready{0};
    StderrCapture capture;
    std::vector<std::thread> threads;
    for (int t = 0; t < thread_count; ++t) {
        threads.emplace_back([&] {
            ready.fetch_add(1);
            while (ready.load() < thread_count) {
            }
            f();
        });
    }
    for (std::thread& t : threads) {
        t.join();
    }
    const std::string text = capture.finish();
    EXPECT_EQ(count_lines(text, "dlsym failed on \"mi_unlock\" (handle: "), size_t(thread_count));
    EXPECT_EQ(take_lookups().size(), size_t(thread_count));
    // Each line whole: as many line feeds as lines.
    EXPECT_EQ(size_t(std::count(text.begin(), text.end(), '\n')), size_t(thread_count));
}

// ---- Message forwarders -----------------------------------------------------

TEST_F(Binding, EveryMessageForwarderHandsOverTheFormattedText) {
    TestRendererState& s = *first.state;
    for (uint32_t i = 0; i < bl::binding_count; ++i) {
        s.message_format[0] = s.message_printed[0] = '\0';
        s.result_integer = 0x1122334455667788 + i;
        intptr_t got;
        if (is(i, "message")) {
            got = reinterpret_cast<intptr_t (*)(const char*, ...)>(forwarder_addresses[i])(
                "%s: %d%% of %s", names[i].name, 50, "a%d");
        } else if (is(i, "numbered")) {
            got = reinterpret_cast<intptr_t (*)(int32_t, const char*, ...)>(forwarder_addresses[i])(
                -4711, "%s: %d%% of %s", names[i].name, 50, "a%d");
            EXPECT_EQ(s.message_number, -4711) << names[i].name;
        } else {
            continue;
        }
        EXPECT_EQ(uint64_t(got), s.result_integer) << names[i].name;
        EXPECT_EQ(s.calls[i], 1) << names[i].name;
        const std::string expected = std::string(names[i].name) + ": 50% of a%d";
        EXPECT_EQ(s.message_printed, expected) << names[i].name;
        EXPECT_EQ(s.message_format, std::string(names[i].name) + ": 50%% of a%%d");
    }
}

TEST_F(Binding, AMessageOf1023CharactersFitsALongerOneIsCut) {
    TestRendererState& s = *first.state;
    const std::string fits(1023, 'm');
    mi_info("%s", fits.c_str());
    EXPECT_EQ(s.message_printed, fits);
    mi_nwarning(3, "%s%s", fits.c_str(), "and more");
    EXPECT_EQ(s.message_printed, fits);
    EXPECT_EQ(s.message_number, 3);
}

TEST_F(Binding, AMessageToAMissingFunctionReturnsZero) {
    miSetModuleHandle(GetModuleHandleA("kernel32.dll"));
    StderrCapture capture;
    EXPECT_EQ(mi_info("%d", 1), 0);
    EXPECT_EQ(mi_query(165, nullptr, 0, nullptr, nullptr, 1), 0);
    const std::string text = capture.finish();
    EXPECT_EQ(count_lines(text, "dlsym failed on \"mi_info\""), 1u);
    EXPECT_EQ(count_lines(text, "dlsym failed on \"mi_query\""), 1u);
}

// ---- Code-dependent forwarders ----------------------------------------------

// Sentinels the caller passes beyond what the code asks for: they must not
// reach the renderer.
constexpr int64_t unused = 0x5e5e5e5e5e5e5e5e;

TEST_F(Binding, QueryPassesAsManyArgumentsAsItsCodeAsks) {
    const TestRendererCall& c = first.state->last;
    int state = 0, result = 0, extra = 0;
    first.state->result_integer = 0xabcdef0123456789;
    const auto fixed_arguments_arrive = [&](int32_t code) {
        EXPECT_EQ(c.index, uint64_t(bl::binding_mi_query));
        EXPECT_EQ(low(c.integer[0]), uint32_t(code));
        EXPECT_EQ(c.integer[1], reinterpret_cast<uint64_t>(&state));
        EXPECT_EQ(low(c.integer[2]), 0xfffffffeu);
        EXPECT_EQ(c.integer[3], reinterpret_cast<uint64_t>(&result));
    };

    // 165: a pointer, then an integer (six arguments).
    EXPECT_EQ(uint64_t(mi_query(165, &state, 0xfffffffe, &result, &extra, 77, unused)),
              0xabcdef0123456789);
    fixed_arguments_arrive(165);
    EXPECT_EQ(c.stack[0], reinterpret_cast<uint64_t>(&extra));
    EXPECT_EQ(low(c.stack[1]), 77u);
    EXPECT_NE(int64_t(c.stack[2]), unused);

    // 127: a pointer (five).
    mi_query(127, &state, 0xfffffffe, &result, &extra, unused);
    fixed_arguments_arrive(127);
    EXPECT_EQ(c.stack[0], reinterpret_cast<uint64_t>(&extra));
    EXPECT_NE(int64_t(c.stack[1]), unused);

    // 15, 152, 163: an integer (five).
    for (int32_t code : {15, 152, 163}) {
        mi_query(code, &state, 0xfffffffe, &result, -9, unused);
        fixed_arguments_arrive(code);
        EXPECT_EQ(low(c.stack[0]), uint32_t(-9));
        EXPECT_NE(int64_t(c.stack[1]), unused);
    }

    // Any other: none (four).
    for (int32_t code : {0, 14, 164, -1}) {
        mi_query(code, &state, 0xfffffffe, &result, unused, unused);
        fixed_arguments_arrive(code);
        EXPECT_NE(int64_t(c.stack[0]), unused) << code;
    }
}

TEST_F(Binding, SceneCreationPassesAsManyArgumentsAsItsTypeAsks) {
    const TestRendererCall& c = first.state->last;
    int object = 0, data = 0;
    for (const bool recreate : {false, true}) {
        const auto call = [&](int32_t type, auto... further) {
            if (recreate) {
                return mi_scene_recreate(0x80000001u, type, further...);
            }
            return mi_scene_create(&object, type, further...);
        };
        const uint64_t first_argument =
            recreate ? 0x80000001u : reinterpret_cast<uint64_t>(&object);
        const uint64_t index =
            recreate ? bl::binding_mi_scene_recreate : bl::binding_mi_scene_create;

        // 40: a pointer, then eight integers (eleven arguments).
        call(40, &data, 1, 2, 3, 4, 5, 6, 7, 8, unused);
        EXPECT_EQ(c.index, index);
        EXPECT_EQ(recreate ? low(c.integer[0]) : c.integer[0], first_argument);
        EXPECT_EQ(low(c.integer[1]), 40u);
        EXPECT_EQ(c.integer[2], reinterpret_cast<uint64_t>(&data));
        EXPECT_EQ(low(c.integer[3]), 1u);
        for (int k = 0; k < 7; ++k) {
            EXPECT_EQ(low(c.stack[k]), uint32_t(k + 2)) << k;
        }
        EXPECT_NE(int64_t(c.stack[7]), unused);

        // 51: three integers, then a pointer (six).
        call(51, -1, -2, -3, &data, unused);
        EXPECT_EQ(low(c.integer[1]), 51u);
        EXPECT_EQ(low(c.integer[2]), uint32_t(-1));
        EXPECT_EQ(low(c.integer[3]), uint32_t(-2));
        EXPECT_EQ(low(c.stack[0]), uint32_t(-3));
        EXPECT_EQ(c.stack[1], reinterpret_cast<uint64_t>(&data));
        EXPECT_NE(int64_t(c.stack[2]), unused);

        // Any other: eight integers (ten).
        call(7, 11, 12, 13, 14, 15, 16, 17, 18, unused);
        EXPECT_EQ(low(c.integer[1]), 7u);
        EXPECT_EQ(low(c.integer[2]), 11u);
        EXPECT_EQ(low(c.integer[3]), 12u);
        for (int k = 0; k < 6; ++k) {
            EXPECT_EQ(low(c.stack[k]), uint32_t(k + 13)) << k;
        }
        EXPECT_NE(int64_t(c.stack[6]), unused);
    }
}

} // namespace
