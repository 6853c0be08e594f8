#include "preview/host/plugin.h"

#include <dlfcn.h>

namespace preview {

namespace {

template <typename F> bool find(void* handle, const char* name, F& target) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        return false;
    }
    target = reinterpret_cast<F>(symbol);
    return true;
}

} // namespace

bool load_plugin(const std::string& path, Plugin& plugin, std::string& error) {
    plugin = Plugin{};
    // RTLD_NOW: an unresolved renderer function shows here, not mid-render.
    // A path without a slash would search the library path; make it explicit.
    const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
    plugin.handle = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (plugin.handle == nullptr) {
        const char* reason = dlerror();
        error = "cannot load plug-in " + path + ": " + (reason ? reason : "unknown reason");
        return false;
    }
    const char* missing = nullptr;
    if (!find(plugin.handle, "bendlens", plugin.shade)) {
        missing = "bendlens";
    } else if (!find(plugin.handle, "bendlens_version", plugin.version)) {
        missing = "bendlens_version";
    } else if (!find(plugin.handle, "bendlens_init", plugin.init)) {
        missing = "bendlens_init";
    } else if (!find(plugin.handle, "bendlens_exit", plugin.exit)) {
        missing = "bendlens_exit";
    }
    if (missing != nullptr) {
        error = "plug-in " + path + " has no entry point " + missing;
        unload_plugin(plugin);
        return false;
    }
    const int version = plugin.version();
    if (version != 1) {
        error = "plug-in " + path + " has shader version " + std::to_string(version) +
                ", this host knows version 1";
        unload_plugin(plugin);
        return false;
    }
    return true;
}

void unload_plugin(Plugin& plugin) {
    if (plugin.handle != nullptr) {
        dlclose(plugin.handle);
    }
    plugin = Plugin{};
}

} // namespace preview
