#include "bench/big_scans.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "preview/mesh/load.h"
#include "preview/mesh/prepare.h"
#include "preview/render/render.h"
#include "preview/scene/scene.h"
#include "preview/scene/surfaces.h"

extern char** environ;

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Case {
    const char* file;
    int fineness;     // the torus's tessellation: 2 n (n / 2) triangles
    double seconds;   // the target, start to written image
    size_t triangles; // filled in
};

preview::Surface torus() {
    for (const preview::Surface& surface : preview::builtin_surfaces()) {
        if (surface.kind == preview::SurfaceKind::torus) {
            return surface;
        }
    }
    return {};
}

preview::Mesh torus_mesh(int fineness) {
    int su = 0, sv = 0;
    preview::tessellation_segments(torus(), fineness, su, sv);
    std::vector<float> uv;
    return preview::tessellate(torus(), su, sv, uv);
}

// The torus as an exporter writes it: OBJ with six decimals, or binary
// little-endian PLY of float coordinates and byte-counted int faces.
bool write_mesh(const preview::Mesh& mesh, const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const size_t triangles = mesh.triangles.size() / 3;
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".obj") == 0) {
        for (const preview::Float3& p : mesh.positions) {
            std::fprintf(file, "v %.6f %.6f %.6f\n", double(p.x), double(p.y), double(p.z));
        }
        for (size_t t = 0; t < triangles; ++t) {
            const uint32_t* c = &mesh.triangles[3 * t];
            std::fprintf(file, "f %u %u %u\n", c[0] + 1, c[1] + 1, c[2] + 1);
        }
    } else {
        std::fprintf(file,
                     "ply\nformat binary_little_endian 1.0\nelement vertex %zu\nproperty float "
                     "x\nproperty float y\nproperty float z\nelement face %zu\nproperty list "
                     "uchar int vertex_indices\nend_header\n",
                     mesh.positions.size(), triangles);
        std::fwrite(mesh.positions.data(), sizeof(preview::Float3), mesh.positions.size(), file);
        std::vector<unsigned char> records(13 * triangles);
        for (size_t t = 0; t < triangles; ++t) {
            records[13 * t] = 3;
            std::memcpy(&records[13 * t + 1], &mesh.triangles[3 * t], 12);
        }
        std::fwrite(records.data(), 1, records.size(), file);
    }
    return std::fclose(file) == 0;
}

struct Run {
    double seconds = 0.0;
    double peak_bytes = 0.0; // resident
    double processor = 0.0;  // seconds of processor time, all threads
    std::string steps;       // the --stats steps line
    std::string fits;        // and its line of vertex fits
    bool ok = false;
};

// Runs the tool on one mesh, its standard output into a file, and measures
// it from the start of the process to its exit.
Run run_preview(const std::string& preview, const std::string& mesh, const std::string& folder) {
    Run run;
    const std::string out = folder + "/preview-out.txt";
    const std::string image = folder + "/preview.png";
    std::vector<std::string> args = {preview,   "--mesh",   mesh, "--stats",
                                     "--quiet", "--output", image};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const Clock::time_point start = Clock::now();
    const int spawned = posix_spawn(&pid, preview.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return run;
    }
    int status = 0;
    struct rusage usage {};
    wait4(pid, &status, 0, &usage);
    run.seconds = seconds_since(start);
    run.peak_bytes = double(usage.ru_maxrss) * 1024.0;
    run.processor = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                    1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ifstream text(out);
    for (std::string line; std::getline(text, line);) {
        if (line.rfind("steps:", 0) == 0) {
            run.steps = line;
        } else if (line.rfind("curvature fits:", 0) == 0) {
            run.fits = line;
        }
    }
    return run;
}

// Embree's low build quality against its high one on one mesh: the build,
// and a render of the default view as the tool makes it (without the
// auto-range pass), each the median of three.
void compare_build_qualities(const preview::Mesh& mesh, const preview::Plugin& plugin) {
    for (preview::BuildQuality quality :
         {preview::BuildQuality::low, preview::BuildQuality::high}) {
        std::vector<double> builds, renders;
        for (int run = 0; run < 3; ++run) {
            preview::Scene scene;
            scene.set_build_quality(quality);
            scene.add_mesh("torus", mesh, {0.0f, 0.0f, 0.0f}, preview::DerivativeSource::none);
            std::string error;
            Clock::time_point start = Clock::now();
            if (!scene.commit(error)) {
                std::printf("build: %s\n", error.c_str());
                return;
            }
            builds.push_back(seconds_since(start));
            preview::Instance instance;
            preview::RenderSettings settings;
            preview::Image image;
            start = Clock::now();
            preview::render(scene, plugin, instance, settings, image);
            renders.push_back(seconds_since(start));
        }
        std::sort(builds.begin(), builds.end());
        std::sort(renders.begin(), renders.end());
        std::printf("  %s quality: BVH build %.3f s, render 640 x 480 %.3f s\n",
                    quality == preview::BuildQuality::low ? "low " : "high", builds[1], renders[1]);
    }
}

} // namespace

void run_big_scans(const std::string& preview, const std::string& folder, int repeats,
                   const preview::Plugin& plugin) {
    // Tessellations 1225 and 3163: 1.50 and 10.0 million triangles.
    Case cases[] = {{"torus-1.5M.obj", 1225, 2.0, 0},
                    {"torus-1.5M.ply", 1225, 1.2, 0},
                    {"torus-10M.ply", 3163, 8.0, 0}};
    mkdir(folder.c_str(), 0755);
    // The meshes are made in a process of its own: a process started later
    // counts the peak memory of the one that starts it in its own, and the
    // runs below must count the tool's alone.
    const pid_t writer = fork();
    if (writer == 0) {
        for (Case& c : cases) {
            const std::string path = folder + "/" + c.file;
            struct stat info {};
            if (stat(path.c_str(), &info) != 0 && !write_mesh(torus_mesh(c.fineness), path)) {
                std::printf("big scans: cannot write %s\n", path.c_str());
                _exit(1);
            }
        }
        _exit(0);
    }
    int written = 0;
    waitpid(writer, &written, 0);
    if (writer < 0 || !WIFEXITED(written) || WEXITSTATUS(written) != 0) {
        return;
    }
    for (Case& c : cases) {
        // Two triangles a cell of the grid: a torus has no pole.
        int su = 0, sv = 0;
        preview::tessellation_segments(torus(), c.fineness, su, sv);
        c.triangles = size_t(2) * size_t(su) * size_t(sv);
    }
    std::printf("Big scans: start to written image, 640 x 480, method 0, default options "
                "(median of %d; the peak of the median run)\n",
                repeats);
    std::vector<std::vector<Run>> runs(std::size(cases));
    for (int r = 0; r < repeats; ++r) {
        for (size_t k = 0; k < std::size(cases); ++k) {
            runs[k].push_back(run_preview(preview, folder + "/" + cases[k].file, folder));
        }
    }
    for (size_t k = 0; k < std::size(cases); ++k) {
        std::vector<Run>& all = runs[k];
        std::sort(all.begin(), all.end(),
                  [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
        const Run& median = all[all.size() / 2];
        const double per_triangle = median.peak_bytes / double(cases[k].triangles);
        const bool met = median.ok && median.seconds <= cases[k].seconds && per_triangle <= 200.0;
        const char* verdict = !median.ok ? "FAILED TO RUN" : met ? "met" : "missed";
        std::printf("%s (%zu triangles): %.2f s (target %.1f; %.2f s of processor time), peak "
                    "%.0f MB = %.0f bytes a triangle (target 200): %s\n  %s\n  %s\n",
                    cases[k].file, cases[k].triangles, median.seconds, cases[k].seconds,
                    median.processor, median.peak_bytes / 1e6, per_triangle, verdict,
                    median.steps.c_str(), median.fits.c_str());
    }
    std::printf("Embree build quality on torus-1.5M (low is the tool's choice from 2^18 "
                "triangles):\n");
    preview::Mesh mid = torus_mesh(cases[0].fineness);
    preview::place_mesh(mid, 0.0f);
    std::string error;
    if (preview::prepare_mesh(mid, error)) {
        compare_build_qualities(mid, plugin);
    }
}

} // namespace bench
