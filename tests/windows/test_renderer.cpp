// The test renderer's message exports and its state.
#include "tests/windows/test_renderer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

extern "C" {

TestRendererState test_renderer_state;

__declspec(dllexport) TestRendererState* test_renderer() {
    return &test_renderer_state;
}

} // extern "C"

namespace {

enum Index : uint32_t {
#define BL_NAME(name, kind) index_##name,
#include "hostbind/names.def"
#undef BL_NAME
};

// Keeps the text as handed over, and prints it as the renderer would: as a
// format, with whatever arguments follow.
intptr_t record_message(Index index, const char* format, va_list args) {
    TestRendererState& s = test_renderer_state;
    std::snprintf(s.message_format, sizeof s.message_format, "%s", format);
    std::vsnprintf(s.message_printed, sizeof s.message_printed, format, args);
    __atomic_fetch_add(&s.calls[index], 1, __ATOMIC_RELAXED);
    return static_cast<intptr_t>(s.result_integer);
}

} // namespace

extern "C" {

#define BL_NAME(name, kind) BL_NAME_##kind(name)
#define BL_NAME_plain(name)
#define BL_NAME_code(name)
#define BL_NAME_message(name)                                                                      \
    __declspec(dllexport) intptr_t name(const char* format, ...) {                                 \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        const intptr_t result = record_message(index_##name, format, args);                        \
        va_end(args);                                                                              \
        return result;                                                                             \
    }
#define BL_NAME_numbered(name)                                                                     \
    __declspec(dllexport) intptr_t name(int32_t number, const char* format, ...) {                 \
        test_renderer_state.message_number = number;                                               \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        const intptr_t result = record_message(index_##name, format, args);                        \
        va_end(args);                                                                              \
        return result;                                                                             \
    }
#include "hostbind/names.def"
#undef BL_NAME

} // extern "C"
