// The binding table of the Windows build: one entry per renderer function,
// filled by name from the renderer module at the function's first call.
#pragma once

#include <atomic>
#include <cstdint>

namespace bl {

// One index per forwarded name, in the order of names.def.
enum Binding : uint32_t {
#define BL_NAME(name, kind) binding_##name,
#include "hostbind/names.def"
#undef BL_NAME
    binding_count
};

static_assert(binding_count == 691, "the renderer's forwarded functions");

// The name of each entry, for the lookup and for the failure message.
extern const char* const binding_names[binding_count];

// The address of the entry's renderer function, looked up first if the entry
// is still null; null if the module lacks the name.
void* bound_function(Binding index);

} // namespace bl

extern "C" {

// The table itself. Each entry is read and written whole, with no ordering
// beyond that: threads racing on a first call all store the same address.
// The assembly stubs read it directly, so its name is not mangled.
extern std::atomic<void*> bl_binding_table[bl::binding_count];

// Looks the entry's name up in the renderer module, stores the result in the
// entry and reports a failure on the standard error stream. Called by the
// stubs' shared slow path and by bound_function.
void* bl_resolve_binding(uint32_t index);

} // extern "C"

static_assert(sizeof(std::atomic<void*>) == sizeof(void*),
              "the stubs load each entry as one pointer");
