// The forwarders that must read their variable arguments: the twelve message
// forwarders, which format their text themselves, and the three whose count
// of further arguments depends on a code. All other forwarders are assembly
// stubs (stubs.S).
//
// The renderer's result is passed back as its whole integer register: a
// pointer-sized integer carries a void, boolean or pointer result alike.
// When the renderer module lacks the function, the lookup has already
// reported it, and the forwarder returns zero instead of calling through null.
#include <cstdarg>
#include <cstdint>

#include "hostbind/binding.h"
#include "hostbind/message_text.h"
#include "shader/renderer.h"

namespace {

using TextFunction = intptr_t (*)(const char*, ...);
using NumberedTextFunction = intptr_t (*)(int32_t, const char*, ...);
using QueryFunction = intptr_t (*)(int32_t, void*, Tag, void*, ...);
using CreateFunction = intptr_t (*)(void*, int32_t, ...);
using RecreateFunction = intptr_t (*)(Tag, int32_t, ...);

intptr_t pass_text(bl::Binding index, const char* format, va_list args) {
    const auto function = reinterpret_cast<TextFunction>(bl::bound_function(index));
    if (function == nullptr) {
        return 0;
    }
    char text[bl::message_capacity];
    bl::format_message(text, format, args);
    return function(text);
}

intptr_t pass_numbered_text(bl::Binding index, int32_t number, const char* format, va_list args) {
    const auto function = reinterpret_cast<NumberedTextFunction>(bl::bound_function(index));
    if (function == nullptr) {
        return 0;
    }
    char text[bl::message_capacity];
    bl::format_message(text, format, args);
    return function(number, text);
}

// The further arguments of a scene-creating call, by type code.
struct SceneArguments {
    int32_t type;
    intptr_t pointer = 0;
    int32_t numbers[8] = {};
};

SceneArguments read_scene_arguments(int32_t type, va_list args) {
    SceneArguments a{type};
    if (type == 40) { // a pointer, then eight integers
        a.pointer = va_arg(args, intptr_t);
        for (int32_t& n : a.numbers) {
            n = va_arg(args, int32_t);
        }
    } else if (type == 51) { // three integers, then a pointer
        for (int i = 0; i < 3; ++i) {
            a.numbers[i] = va_arg(args, int32_t);
        }
        a.pointer = va_arg(args, intptr_t);
    } else { // eight integers
        for (int32_t& n : a.numbers) {
            n = va_arg(args, int32_t);
        }
    }
    return a;
}

// Calls a scene-creating function with its fixed first argument, the type
// code and the further arguments the type code names.
template <typename Function, typename First>
intptr_t pass_scene_arguments(Function function, First first, const SceneArguments& a) {
    const int32_t* n = a.numbers;
    if (a.type == 40) {
        return function(first, a.type, a.pointer, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]);
    }
    if (a.type == 51) {
        return function(first, a.type, n[0], n[1], n[2], a.pointer);
    }
    return function(first, a.type, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7]);
}

} // namespace

extern "C" {

#define BL_TEXT_FORWARDER(name)                                                                    \
    intptr_t name(const char* format, ...) {                                                       \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        const intptr_t result = pass_text(bl::binding_##name, format, args);                       \
        va_end(args);                                                                              \
        return result;                                                                             \
    }

#define BL_NUMBERED_TEXT_FORWARDER(name)                                                           \
    intptr_t name(int32_t number, const char* format, ...) {                                       \
        va_list args;                                                                              \
        va_start(args, format);                                                                    \
        const intptr_t result = pass_numbered_text(bl::binding_##name, number, format, args);      \
        va_end(args);                                                                              \
        return result;                                                                             \
    }

#define BL_NAME(name, kind) BL_NAME_##kind(name)
#define BL_NAME_plain(name)
#define BL_NAME_code(name)
#define BL_NAME_message(name) BL_TEXT_FORWARDER(name)
#define BL_NAME_numbered(name) BL_NUMBERED_TEXT_FORWARDER(name)
#include "hostbind/names.def"
#undef BL_NAME

intptr_t mi_query(int32_t code, void* state, Tag tag, void* result, ...) {
    const auto function = reinterpret_cast<QueryFunction>(bl::bound_function(bl::binding_mi_query));
    if (function == nullptr) {
        return 0;
    }
    va_list args;
    va_start(args, result);
    intptr_t answer;
    if (code == 165) { // a pointer, then an integer
        const intptr_t pointer = va_arg(args, intptr_t);
        const int32_t number = va_arg(args, int32_t);
        answer = function(code, state, tag, result, pointer, number);
    } else if (code == 127) { // a pointer
        answer = function(code, state, tag, result, va_arg(args, intptr_t));
    } else if (code == 15 || code == 152 || code == 163) { // an integer
        answer = function(code, state, tag, result, va_arg(args, int32_t));
    } else {
        answer = function(code, state, tag, result);
    }
    va_end(args);
    return answer;
}

intptr_t mi_scene_create(void* first, int32_t type, ...) {
    const auto function =
        reinterpret_cast<CreateFunction>(bl::bound_function(bl::binding_mi_scene_create));
    if (function == nullptr) {
        return 0;
    }
    va_list args;
    va_start(args, type);
    const SceneArguments further = read_scene_arguments(type, args);
    va_end(args);
    return pass_scene_arguments(function, first, further);
}

intptr_t mi_scene_recreate(Tag tag, int32_t type, ...) {
    const auto function =
        reinterpret_cast<RecreateFunction>(bl::bound_function(bl::binding_mi_scene_recreate));
    if (function == nullptr) {
        return 0;
    }
    va_list args;
    va_start(args, type);
    const SceneArguments further = read_scene_arguments(type, args);
    va_end(args);
    return pass_scene_arguments(function, tag, further);
}

} // extern "C"
