#include "preview/render/vertex_bake.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "preview/host/sampling.h"
#include "preview/host/shading.h"
#include "preview/mesh/weld.h"

namespace preview {
namespace {

constexpr uint32_t none = 0xffffffffu;

// Welds the mesh and finds, per welded vertex, the first triangle corner on
// it (corner = 3 * triangle + k), or none.
void weld(const Mesh& mesh, VertexBake& bake, std::vector<uint32_t>& first_corner) {
    const std::vector<uint32_t> representative = weld_positions(mesh.positions);
    std::vector<uint32_t> welded_index(mesh.positions.size(), none);
    bake.vertices.clear();
    for (uint32_t v = 0; v < representative.size(); ++v) {
        if (representative[v] == v) {
            welded_index[v] = uint32_t(bake.vertices.size());
            bake.vertices.push_back(v);
        }
    }
    first_corner.assign(bake.vertices.size(), none);
    bake.triangles.resize(mesh.triangles.size());
    for (size_t c = 0; c < mesh.triangles.size(); ++c) {
        const uint32_t w = welded_index[representative[mesh.triangles[c]]];
        bake.triangles[c] = w;
        if (first_corner[w] == none) {
            first_corner[w] = uint32_t(c);
        }
    }
}

struct VertexWorker {
    HostState host;
    HostState child;
    Instance reading;
    Instance principal;

    explicit VertexWorker(const Instance& instance)
        : reading(reading_instance(instance)), principal(reading_instance(instance, true)) {
        host.probe_child = &child;
    }
};

// Shades welded vertex w at its first corner, or marks it without estimate.
void bake_vertex(const Scene& scene, const Plugin& plugin, const Instance& instance,
                 const Object& object, uint32_t corner, uint32_t w, VertexWorker& worker,
                 VertexBake& bake) {
    bake.k1[w] = bake.k2[w] = bake.mean[w] = bake.gaussian[w] = NAN;
    if (corner == none) {
        return;
    }
    // The corner's weight 1: (b1, b2) = (0, 0), (1, 0) or (0, 1).
    const uint32_t k = corner % 3;
    Hit hit;
    scene.describe_point(object.primitives[corner / 3], k == 1 ? 1.0f : 0.0f, k == 2 ? 1.0f : 0.0f,
                         hit);
    const uint32_t seed = hash_combine(hash32(0x76657274u), w); // "vert"
    const Colour c = shade_hit(plugin, instance, scene, hit, seed, worker.host);
    const CurvatureReading reading =
        read_back_curvature(plugin, worker.principal, scene, hit, seed, worker.host, true);
    if (reading.method == 0 && !hit.has_derivs) {
        return; // method 0 without derivatives: no estimate, not a flat 0
    }
    bake.mean[w] = float(reading.mean);
    bake.gaussian[w] = float(reading.gaussian);
    bake.k1[w] = reading.k1;
    bake.k2[w] = reading.k2;
    float* rgba = &bake.values.rgba[4 * size_t(w)];
    rgba[0] = c.r, rgba[1] = c.g, rgba[2] = c.b, rgba[3] = 1.0f;
    bake.values.measure[w] =
        float(read_back_measure(plugin, worker.reading, scene, hit, seed, worker.host));
}

} // namespace

void bake_vertices(const Scene& scene, const Plugin& plugin, Instance& instance,
                   const VertexBakeSettings& settings, VertexBake& bake) {
    ProgressStep step(settings.progress, "vertex bake");
    const Object& object = scene.objects().front();
    std::vector<uint32_t> first_corner;
    weld(object.mesh, bake, first_corner);
    const size_t count = bake.vertices.size();
    bake.k1.assign(count, NAN);
    bake.k2.assign(count, NAN);
    bake.mean.assign(count, NAN);
    bake.gaussian.assign(count, NAN);
    bake.values = Image{};
    bake.values.width = int(count);
    bake.values.height = 1;
    bake.values.rgba.assign(count * 4, 0.0f);
    bake.values.measure.assign(count, 0.0f);

    const ShaderSession session(plugin, instance);
    const size_t stride = size_t(std::max(1, settings.stride));
    // Blocks of vertices handed out in turn; each vertex's result depends on
    // the vertex alone.
    constexpr size_t block = 1024;
    std::atomic<size_t> next{0};
    auto work = [&]() {
        VertexWorker worker(instance);
        for (size_t start = next.fetch_add(block); start < count; start = next.fetch_add(block)) {
            const size_t end = std::min(count, start + block);
            for (size_t w = start; w < end; ++w) {
                const uint32_t corner = w % stride == 0 ? first_corner[w] : none;
                bake_vertex(scene, plugin, instance, object, corner, uint32_t(w), worker, bake);
            }
            step.advance(double(end) / double(count));
        }
    };
    int threads = settings.threads > 0 ? settings.threads
                                       : int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back(work);
    }
    for (std::thread& t : pool) {
        t.join();
    }
    bake.without_estimate = 0;
    for (size_t w = 0; w < count; ++w) {
        if (!(bake.values.rgba[4 * w + 3] > 0.0f)) {
            ++bake.without_estimate;
        }
    }
    bake.values.samples_cast = bake.values.samples_hit =
        static_cast<long long>(count) - bake.without_estimate;
}

} // namespace preview
