// Splitting a loop over the cores: the mesh steps that touch every vertex or
// every byte of a big file (reading, welding, normals) run on all of them.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace preview {

// The threads to use for a job of the given number of chunks: every core
// when threads is 0, never more than there are chunks.
inline unsigned worker_count(size_t chunks, int threads = 0) {
    const unsigned cores =
        threads > 0 ? unsigned(threads) : std::max(1u, std::thread::hardware_concurrency());
    return unsigned(std::max<size_t>(1, std::min<size_t>(cores, chunks)));
}

// Calls work(chunk) once for every chunk in 0..chunks-1, each thread taking
// the next chunk not yet taken, and returns when all are done. The calling
// thread works too, so a job of one chunk starts no thread.
template <class Work> void run_chunks(size_t chunks, Work&& work, int threads = 0) {
    std::atomic<size_t> next{0};
    auto worker = [&]() {
        for (size_t chunk = next++; chunk < chunks; chunk = next++) {
            work(chunk);
        }
    };
    std::vector<std::thread> pool;
    for (unsigned k = 1; k < worker_count(chunks, threads); ++k) {
        pool.emplace_back(worker);
    }
    worker();
    for (std::thread& thread : pool) {
        thread.join();
    }
}

} // namespace preview
