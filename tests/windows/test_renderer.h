// A stand-in for the renderer module in the binding tests: a DLL exporting
// every forwarded name. Each plain and code-dependent export records the
// argument registers and stack slots it was called with and returns set
// values in both result registers; each message export records the text it
// was handed and what a printf-like renderer would print of it.
#pragma once

#include <cstddef>
#include <cstdint>

struct TestRendererCall {
    uint64_t index;      // the name's position in names.def
    uint64_t integer[4]; // rcx, rdx, r8, r9
    uint64_t vector[4];  // low 64 bits of xmm0-xmm3
    uint64_t stack[8];   // arguments 5 to 12
};

struct TestRendererState {
    TestRendererCall last;      // the last call of a plain or code-dependent export
    uint64_t result_integer;    // returned in rax
    uint64_t result_vector;     // returned in the low 64 bits of xmm0
    int64_t calls[691];         // calls per name, counted atomically
    int32_t message_number;     // the last numbered message's number
    char message_format[1200];  // the last message's text as handed over
    char message_printed[1200]; // and as a printf-like renderer prints it
};

// The assembly relies on these offsets.
static_assert(offsetof(TestRendererState, last) == 0, "layout");
static_assert(offsetof(TestRendererCall, integer) == 8, "layout");
static_assert(offsetof(TestRendererCall, vector) == 40, "layout");
static_assert(offsetof(TestRendererCall, stack) == 72, "layout");
static_assert(offsetof(TestRendererState, result_integer) == 136, "layout");
static_assert(offsetof(TestRendererState, result_vector) == 144, "layout");
static_assert(offsetof(TestRendererState, calls) == 152, "layout");

// Exported by the test renderer under this name.
using TestRendererStateFunction = TestRendererState* (*)();
