// The module handle, the binding table and the lookup of a renderer function
// by name (the first call of each forwarder runs it).
#include "hostbind/binding.h"

#include <cstdio>

#include "hostbind/module_handle.h"

namespace {

// Null until the renderer hands its module over.
std::atomic<HMODULE> module_handle{nullptr};

} // namespace

std::atomic<void*> bl_binding_table[bl::binding_count];

namespace bl {

const char* const binding_names[binding_count] = {
#define BL_NAME(name, kind) #name,
#include "hostbind/names.def"
#undef BL_NAME
};

void* bound_function(Binding index) {
    void* function = bl_binding_table[index].load(std::memory_order_relaxed);
    return function != nullptr ? function : bl_resolve_binding(index);
}

} // namespace bl

extern "C" void* bl_resolve_binding(uint32_t index) {
    if (index >= bl::binding_count) {
        return nullptr;
    }
    // A missing handle is reported, but the lookup is still made with it.
    const HMODULE module = module_handle.load(std::memory_order_relaxed);
    if (module == nullptr) {
        std::fprintf(stderr, "DYNLOAD: dl_handle null\n");
    }
    const char* const name = bl::binding_names[index];
    void* const function = reinterpret_cast<void*>(GetProcAddress(module, name));
    // The error code is taken at once, before anything can overwrite it.
    const DWORD error = function == nullptr ? GetLastError() : 0;
    bl_binding_table[index].store(function, std::memory_order_relaxed);
    if (function == nullptr) {
        std::fprintf(stderr, "dlsym failed on \"%s\" (handle: %08x error: %d)\n", name,
                     static_cast<unsigned>(reinterpret_cast<uintptr_t>(module)),
                     static_cast<int>(error));
    }
    return function;
}

extern "C" void miSetModuleHandle(HMODULE module) {
    module_handle.store(module, std::memory_order_relaxed);
    for (std::atomic<void*>& entry : bl_binding_table) {
        entry.store(nullptr, std::memory_order_relaxed);
    }
}
