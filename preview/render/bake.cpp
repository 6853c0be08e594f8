#include "preview/render/bake.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "preview/host/sampling.h"
#include "preview/host/shading.h"

namespace preview {
namespace {

// What one bake thread keeps: its states and its copies of the instance for
// reading values back (the read-back writes their parameters).
struct BakeWorker {
    HostState host;
    HostState child;
    Instance reading;
    Instance principal;
    Hit hit; // each sample's, rebuilt by describe_point
    long long samples = 0;
    long long underived = 0;

    explicit BakeWorker(const Instance& instance)
        : reading(reading_instance(instance)), principal(reading_instance(instance, true)) {
        host.probe_child = &child;
    }
};

struct TileJob {
    const Scene& scene;
    const Plugin& plugin;
    const Instance& instance;
    const BakeSettings& settings;
    const TexelCover& cover;
    const Primitive* primitives;
    uint32_t tile_seed;
    bool read_measure;
    bool read_principal;
    Image& image;
};

// Shades texel i at (x, y) of a row whose seed is row_seed: its samples
// located on the mesh, a state built for each as for a hit there, the
// shader's outputs averaged. read_measure: this texel lies on the measure's
// grid.
void bake_texel(const TileJob& job, BakeWorker& worker, size_t i, int x, int y, uint32_t row_seed,
                bool read_measure) {
    const uint32_t texel_seed = hash_combine(row_seed, uint32_t(x) * 0x9e3779b1U);
    const int samples = job.settings.samples_per_texel;
    Hit& hit = worker.hit;
    double sum[3] = {0.0, 0.0, 0.0};
    for (int s = 0; s < samples; ++s) {
        // One sample sits at the centre; more are spread over the texel by
        // the same sequence a pixel's samples follow.
        double jitter[2] = {0.5, 0.5};
        if (samples > 1) {
            r2_point(uint32_t(s), texel_seed, jitter);
        }
        const UvLocation at = samples > 1 ? job.cover.locate(i, x + jitter[0], y + jitter[1])
                                          : job.cover.centre(x, y);
        job.scene.describe_point(job.primitives[at.triangle], at.b1, at.b2, hit);
        if (!hit.has_derivs) {
            ++worker.underived;
        }
        const uint32_t sample_seed = hash_combine(texel_seed, uint32_t(s));
        const Colour c =
            shade_hit(job.plugin, job.instance, job.scene, hit, sample_seed, worker.host);
        sum[0] += c.r;
        sum[1] += c.g;
        sum[2] += c.b;
        // The raw values at the first sample, with its seed, as a render
        // reads them at a pixel's first sample that hits.
        if (s == 0 && read_measure) {
            job.image.measure[i] = float(read_back_measure(job.plugin, worker.reading, job.scene,
                                                           hit, sample_seed, worker.host));
        }
        if (s == 0 && job.read_principal) {
            read_back_principal(job.plugin, worker.principal, job.scene, hit, sample_seed,
                                worker.host, job.image.k1[i], job.image.k2[i]);
        }
    }
    worker.samples += samples;
    float* texel = &job.image.rgba[4 * i];
    for (int c = 0; c < 3; ++c) {
        texel[c] = float(samples == 1 ? sum[c] : sum[c] / samples);
    }
    texel[3] = 1.0f;
}

// Shades the covered texels of row y.
void bake_row(const TileJob& job, BakeWorker& worker, int y) {
    const BakeSettings& settings = job.settings;
    const uint32_t row_seed = hash_combine(job.tile_seed, uint32_t(y));
    const bool measure_row = job.read_measure && y % settings.measure_stride == 0;
    const size_t row = size_t(y) * size_t(settings.width);
    for (int x = 0; x < settings.width; ++x) {
        const size_t i = row + size_t(x);
        if (job.cover.owner(i) >= 0) {
            bake_texel(job, worker, i, x, y, row_seed,
                       measure_row && x % settings.measure_stride == 0);
        }
    }
}

int thread_count(const BakeSettings& settings) {
    const int threads = settings.threads > 0
                            ? settings.threads
                            : int(std::max(1u, std::thread::hardware_concurrency()));
    return std::min(threads, std::max(1, settings.height));
}

// Sizes the tile's image, cleared, with the layers it reads back; true when
// it reads k1 and k2.
bool prepare_image(const BakeSettings& settings, const Instance& instance, Image& image) {
    image.width = settings.width;
    image.height = settings.height;
    const size_t texels = size_t(settings.width) * size_t(settings.height);
    image.rgba.assign(texels * 4, 0.0f);
    // A method fixed at 1 gives no principal curvatures: no layers then.
    const bool read_principal =
        settings.read_principal &&
        !(instance.block.params.method == 1 && instance.connections[0].source == Connection::none);
    image.measure.assign(settings.read_measure ? texels : 0,
                         settings.measure_stride > 1 ? NAN : 0.0f);
    image.k1.assign(read_principal ? texels : 0, 0.0f);
    image.k2.assign(read_principal ? texels : 0, 0.0f);
    return read_principal;
}

// Shades the covered texels, each thread taking the next row until none is
// left, and counts the samples and those without derivatives.
void run_rows(TileJob& job, int threads) {
    const BakeSettings& settings = job.settings;
    std::atomic<int> next_row{0}, rows_done{0};
    std::atomic<long long> samples{0}, underived{0};
    auto work = [&]() {
        BakeWorker worker(job.instance);
        for (int y = next_row++; y < settings.height; y = next_row++) {
            bake_row(job, worker, y);
            const int done = ++rows_done;
            if (settings.progress != nullptr) {
                settings.progress->advance(double(done) / double(settings.height));
            }
        }
        samples += worker.samples;
        underived += worker.underived;
    };
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back(work);
    }
    for (std::thread& t : pool) {
        t.join();
    }
    job.image.samples_cast = job.image.samples_hit = samples.load();
    job.image.hits_without_derivatives = underived.load();
}

} // namespace

void bake_tile(const Scene& scene, const Plugin& plugin, Instance& instance,
               const BakeSettings& settings, const UvTile& tile, BakedTile& baked) {
    ProgressStep step(settings.progress, "bake");
    const Object& object = scene.objects().front();
    baked = BakedTile{};
    baked.tile = tile;
    const int threads = thread_count(settings);
    // The image is cleared while the cover is built: clearing a large map
    // is mostly the first touch of its pages, on one thread.
    bool read_principal = false;
    std::thread clearing(
        [&]() { read_principal = prepare_image(settings, instance, baked.image); });
    const TexelCover cover(object.mesh, tile, settings.width, settings.height, threads);
    clearing.join();
    baked.covered = cover.covered();
    baked.overlapped = cover.overlapped();

    const ShaderSession session(plugin, instance);
    TileJob job{scene,
                plugin,
                instance,
                settings,
                cover,
                object.primitives.data(),
                hash32(uint32_t(tile.number())),
                settings.read_measure,
                read_principal,
                baked.image};
    run_rows(job, threads);
}

int summary_measure_stride(int width, int height) {
    constexpr double texels_read = 262144.0;
    return std::max(1, int(std::ceil(std::sqrt(double(width) * double(height) / texels_read))));
}

std::string udim_name(const std::string& output, int number) {
    const size_t slash = output.rfind('/');
    size_t dot = output.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        dot = output.size();
    }
    return output.substr(0, dot) + "." + std::to_string(number) + output.substr(dot);
}

} // namespace preview
