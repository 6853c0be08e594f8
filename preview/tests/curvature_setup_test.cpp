// The curvature estimate's setup on big meshes: its neighbour rows are built
// on several threads and it takes the weld prepare_mesh left in the mesh;
// neither may change a single bit of the result.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
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

} // namespace
