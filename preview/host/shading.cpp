#include "preview/host/shading.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace preview {

ShaderSession::ShaderSession(const Plugin& plugin, Instance& instance)
    : plugin_(plugin), instance_(instance) {
    link_instance(instance);
    Boolean request = 0;
    plugin.init(nullptr, nullptr, &request);
    Boolean instance_request = 0;
    setup_.state.shader = &instance.record;
    plugin.init(&setup_.state, &instance.block.params, &instance_request);
}

ShaderSession::~ShaderSession() {
    plugin_.exit(&setup_.state, &instance_.block.params);
    plugin_.exit(nullptr, nullptr);
}

Instance reading_instance(const Instance& instance, bool free_measure) {
    Instance reading = instance;
    // Fields 2 to 5 and 7: mapping, range_max, range_min, threshold,
    // use_contrast; field 1 is measure.
    for (int k : {2, 3, 4, 5, 7}) {
        reading.connections[k] = Connection{};
    }
    if (free_measure) {
        reading.connections[1] = Connection{};
    }
    link_instance(reading);
    return reading;
}

namespace {

// One side of the read-back: the shader's output with the one-sided mapping
// of that side over [0, range], no dead zone, no curve.
float one_side(const Plugin& plugin, Instance& instance, const Scene& scene, const Hit& hit,
               uint32_t seed, HostState& host, int mapping, float range) {
    BendlensParameters& p = instance.block.params;
    p.mapping = mapping;
    p.range_max = range;
    p.range_min = range;
    p.threshold = 0.0f;
    p.use_contrast = 0;
    return shade_hit(plugin, instance, scene, hit, seed, host).r;
}

} // namespace

double read_back_measure(const Plugin& plugin, Instance& instance, const Scene& scene,
                         const Hit& hit, uint32_t seed, HostState& host) {
    constexpr float range = 1.0e6f;
    // Beyond range the side writes 1; read again over the whole float range,
    // where h / FLT_MAX is still a normal float for any |h| >= 1e6.
    constexpr float wide = std::numeric_limits<float>::max();
    const float positive = one_side(plugin, instance, scene, hit, seed, host, 1, range);
    if (positive > 0.0f) {
        if (positive < 1.0f) {
            return double(positive) * range;
        }
        const float far = one_side(plugin, instance, scene, hit, seed, host, 1, wide);
        return far < 1.0f ? double(far) * wide : HUGE_VAL;
    }
    const float negative = one_side(plugin, instance, scene, hit, seed, host, 2, range);
    if (negative > 0.0f) {
        if (negative < 1.0f) {
            return -double(negative) * range;
        }
        const float far = one_side(plugin, instance, scene, hit, seed, host, 2, wide);
        return far < 1.0f ? -double(far) * wide : -HUGE_VAL;
    }
    // Both sides wrote 0: h is 0, or NaN, which the two-sided mapping keeps.
    instance.block.params.mapping = 0;
    if (std::isnan(shade_hit(plugin, instance, scene, hit, seed, host).r)) {
        return NAN;
    }
    return -double(negative) * range;
}

CurvatureReading read_back_curvature(const Plugin& plugin, Instance& instance, const Scene& scene,
                                     const Hit& hit, uint32_t seed, HostState& host,
                                     bool always_gaussian) {
    CurvatureReading reading;
    BendlensParameters& p = instance.block.params;
    p.measure = 0;
    reading.mean = read_back_measure(plugin, instance, scene, hit, seed, host);
    // The method as the shader read it at this hit: through the connection
    // rule, on the state the read-back left loaded with this hit.
    reading.method = *static_cast<const int32_t*>(mi_phen_eval(&host.state, &p.method));
    if (reading.method == 0 || always_gaussian) {
        p.measure = 1;
        reading.gaussian = read_back_measure(plugin, instance, scene, hit, seed, host);
    }
    if (reading.method == 2) {
        reading.k1 = reading.k2 = float(-reading.mean);
    } else if (reading.method == 0) {
        const double mean = reading.mean;
        const double spread = std::sqrt(std::max(mean * mean - reading.gaussian, 0.0));
        reading.k1 = float(-mean + spread);
        reading.k2 = float(-mean - spread);
    }
    return reading;
}

bool read_back_principal(const Plugin& plugin, Instance& instance, const Scene& scene,
                         const Hit& hit, uint32_t seed, HostState& host, float& k1, float& k2) {
    const CurvatureReading reading =
        read_back_curvature(plugin, instance, scene, hit, seed, host, false);
    k1 = reading.k1;
    k2 = reading.k2;
    return reading.method == 0 || reading.method == 2;
}

} // namespace preview
