// One shading call as the host makes it, and reading the shader's raw
// values back through its own mappings.
#pragma once

#include <cmath>
#include <cstdint>

#include "preview/host/host_state.h"
#include "preview/host/plugin.h"
#include "preview/scene/scene.h"

namespace preview {

// The shader's start-up and exit calls around one frame or one bake, as the
// renderer makes them: links the instance's connections, then bendlens_init
// once for the shader (null parameters) and once for the instance; on
// destruction bendlens_exit for the instance and for the shader.
class ShaderSession {
  public:
    ShaderSession(const Plugin& plugin, Instance& instance);
    ~ShaderSession();
    ShaderSession(const ShaderSession&) = delete;
    ShaderSession& operator=(const ShaderSession&) = delete;

  private:
    const Plugin& plugin_;
    Instance& instance_;
    HostState setup_;
};

// Shades one hit as the render loop does, for tests and the accuracy report:
// loads the hit into host (which keeps its child) and calls the shader.
// Inline: a bake makes one at every texel.
inline Colour shade_hit(const Plugin& plugin, const Instance& instance, const Scene& scene,
                        const Hit& hit, uint32_t seed, HostState& host) {
    host.scene = &scene;
    host.instance = &instance;
    host.sample_seed = seed;
    load_hit(hit, host);
    host.state.shader = const_cast<ShaderRecord*>(&instance.record);
    // Alpha is the shader's to leave alone; r, g and b start at 0, which a
    // mapping that writes nothing leaves in place.
    Colour result{0.0f, 0.0f, 0.0f, 1.0f};
    plugin.shade(&result, &host.state, const_cast<BendlensParameters*>(&instance.block.params));
    return result;
}

// A copy of instance to read the measure back with (read_back_measure):
// mapping, range_max, range_min, threshold and use_contrast disconnected, as
// the read-back sets them; with free_measure also measure, for reading the
// mean and the Gaussian curvature (read_back_principal). The rest, method
// above all, keeps its value and its connection. Each render thread needs
// its own copy: the read-back writes its parameters.
Instance reading_instance(const Instance& instance, bool free_measure = false);

// The signed measure h the shader maps at a hit, read back exactly: the
// positive-side mapping with range 1e6 and no dead zone writes h / 1e6 for
// 0 < h < 1e6, the negative side -h / 1e6 for -1e6 < h < 0, so one of them
// gives h to float precision; the two-sided mapping, asked only when both
// wrote 0, tells a NaN measure (NaN) from 0. One call when h > 0, two when
// h < 0, three when h is 0 or NaN. A measure beyond 1e6 in size, which
// saturates, is read again with range FLT_MAX; beyond that it is infinite.
// The seed is the sample's, so method 2 casts the same probe rays. instance
// must not have those five parameters connected (see reading_instance); it
// is left with them changed.
double read_back_measure(const Plugin& plugin, Instance& instance, const Scene& scene,
                         const Hit& hit, uint32_t seed, HostState& host);

// The principal curvatures at a hit, from the mean H and, for method 0, the
// Gaussian K read back as above: method 0 gives k = -H +- sqrt(max(H^2 - K,
// 0)), method 2 its single k1 = k2 = -H. False, with k1 = k2 = NaN, where the
// method at the hit (connected or not) is 1 or unknown. instance must come
// from reading_instance(..., true); its measure is left changed.
bool read_back_principal(const Plugin& plugin, Instance& instance, const Scene& scene,
                         const Hit& hit, uint32_t seed, HostState& host, float& k1, float& k2);

// The mean and Gaussian measures at a hit, each read back as above (measure
// 0 and 1), the method the shader read there (through its connection), and
// the principal curvatures as read_back_principal gives them (NaN for
// methods other than 0 and 2). The Gaussian is read for method 0, or for any
// method with always_gaussian; otherwise it stays NaN. instance must come
// from reading_instance(..., true); its measure is left changed.
struct CurvatureReading {
    double mean = NAN;
    double gaussian = NAN;
    float k1 = NAN, k2 = NAN;
    int method = -1;
};
CurvatureReading read_back_curvature(const Plugin& plugin, Instance& instance, const Scene& scene,
                                     const Hit& hit, uint32_t seed, HostState& host,
                                     bool always_gaussian);

} // namespace preview
