// The curvature estimate's setup on big meshes: its neighbour rows are built
// on several threads, it takes the weld prepare_mesh left in the mesh, and a
// render fits each vertex when a hit first needs it, on whichever thread;
// none of that may change a single bit of the result.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "preview/mesh/curvature.h"
#include "preview/mesh/prepare.h"
#include "preview/scene/surfaces.h"

namespace {

using preview::Mesh;

// The estimate with the given thread count and weld.
preview::VertexCurvature estimate(const Mesh& mesh, int threads) {
    preview::CurvatureSettings settings;
    settings.threads = threads;
    preview::VertexCurvature curvature;
    preview::estimate_vertex_curvature(mesh, settings, curvature);
    return curvature;
}

// Counts the vertices whose validity or tensor differs in any bit.
int differing(const preview::VertexCurvature& a, const preview::VertexCurvature& b) {
    if (a.tensors.size() != b.tensors.size() || a.valid != b.valid) {
        return -1;
    }
    int count = 0;
    for (size_t v = 0; v < a.tensors.size(); ++v) {
        count += std::memcmp(&a.tensors[v], &b.tensors[v], sizeof(preview::CurvatureTensor)) != 0;
    }
    return count;
}

TEST(CurvatureSetup, ThreadsAndAPreparedWeldLeaveTheEstimateAsItWas) {
    // A torus whose normals prepare_mesh takes from the triangles, so that it
    // welds the seam's copies; big enough for many blocks of work.
    std::vector<float> uv;
    Mesh mesh = preview::tessellate({preview::SurfaceKind::torus, 0.75, 0.45, 0.0}, 160, 96, uv);
    mesh.normals.clear();
    std::string error;
    ASSERT_TRUE(preview::prepare_mesh(mesh, error)) << error;
    ASSERT_EQ(mesh.welded.size(), mesh.positions.size());
    Mesh unwelded = mesh;
    unwelded.welded.clear();

    const preview::VertexCurvature one = estimate(unwelded, 1);
    EXPECT_EQ(differing(one, estimate(unwelded, 3)), 0) << "three threads";
    EXPECT_EQ(differing(one, estimate(mesh, 1)), 0) << "the prepared weld";
    EXPECT_EQ(differing(one, estimate(mesh, 2)), 0) << "the prepared weld, two threads";

    // A copy on the seam moved after prepare_mesh: the weld no longer fits
    // the positions and must not be taken.
    Mesh moved = mesh;
    size_t copy = 0;
    while (moved.welded[copy] == copy) {
        ++copy;
    }
    moved.positions[copy].z += 0.05f;
    Mesh moved_unwelded = moved;
    moved_unwelded.welded.clear();
    EXPECT_EQ(differing(estimate(moved_unwelded, 1), estimate(moved, 1)), 0) << "a stale weld";
}

// The corners of every vertex of a and b, asked for in turn (one thread's
// fitter serving two surfaces), from the end or the start; the count of
// corners that differ from the estimates made all at once.
int differing_corners(const preview::OnDemandCurvature& a, const preview::VertexCurvature& all_a,
                      const preview::OnDemandCurvature& b, const preview::VertexCurvature& all_b,
                      bool backwards) {
    auto same = [](const preview::CornerCurvature& c, const preview::VertexCurvature& all,
                   size_t v) {
        return c.valid == (all.valid[v] != 0) &&
               std::memcmp(&c.tensor, &all.tensors[v], sizeof c.tensor) == 0 &&
               std::memcmp(&c.normal, &all.normals[v], sizeof c.normal) == 0;
    };
    int count = 0;
    const size_t n = all_a.tensors.size();
    for (size_t i = 0; i < n; ++i) {
        const size_t v = backwards ? n - 1 - i : i, w = v % all_b.tensors.size();
        count += !same(a.corner(uint32_t(v)), all_a, v);
        count += !same(b.corner(uint32_t(w)), all_b, w);
    }
    return count;
}

TEST(CurvatureSetup, FittedOnDemandOnAnyThreadTheEstimateIsTheSame) {
    // The split seam's copies ask for one welded vertex's fit.
    std::vector<float> uv;
    Mesh big = preview::tessellate({preview::SurfaceKind::torus, 0.75, 0.45, 0.0}, 160, 96, uv);
    Mesh small = preview::tessellate({preview::SurfaceKind::torus, 0.75, 0.45, 0.0}, 40, 24, uv);
    big.normals.clear();
    std::string error;
    ASSERT_TRUE(preview::prepare_mesh(big, error)) << error;
    ASSERT_TRUE(preview::prepare_mesh(small, error)) << error;
    const preview::VertexCurvature all_big = estimate(big, 1), all_small = estimate(small, 1);

    preview::CurvatureSettings settings;
    preview::OnDemandCurvature on_big, on_small;
    on_big.prepare(big, settings);
    on_small.prepare(small, settings);
    EXPECT_EQ(on_big.fitted(), 0u);
    // Three threads race to the same vertices from both ends.
    int counts[3] = {};
    std::vector<std::thread> threads;
    for (int k = 0; k < 3; ++k) {
        threads.emplace_back([&, k] {
            counts[k] = differing_corners(on_big, all_big, on_small, all_small, k % 2 == 1);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counts[0] + counts[1] + counts[2], 0);
    EXPECT_EQ(on_big.fitted(), on_big.vertices()) << "each welded vertex fitted once";
    EXPECT_EQ(differing_corners(on_big, all_big, on_small, all_small, false), 0) << "kept";
}

} // namespace
