// Texture space for a bake, without the plug-in: which texel a triangle
// covers and how the padding grows; UDIM tiles, their names and the
// refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "preview/image/padding.h"
#include "preview/render/bake.h"
#include "preview/render/uv_layout.h"

namespace {

using preview::Image;
using preview::Mesh;

// A flat mesh whose positions are its texture coordinates.
Mesh uv_mesh(const std::vector<preview::Float2>& uvs, const std::vector<uint32_t>& triangles) {
    Mesh mesh;
    for (const preview::Float2& t : uvs) {
        mesh.positions.push_back({t.u, t.v, 0.0f});
        mesh.normals.push_back({0.0f, 0.0f, 1.0f});
    }
    mesh.uvs = uvs;
    mesh.triangles = triangles;
    return mesh;
}
// Texel centres: a square island of two triangles over [0.25, 0.75]^2 of an
// 8 x 8 tile holds the 4 x 4 centres inside it, the four on its diagonal
// once each; it sits where v is high at the top rows, since v runs up the
// image. A third triangle laid over part of it counts those texels as
// overlapped and leaves them to the first triangle. Padding then grows the
// island ring by ring, each texel taking its nearest covered texel.
TEST(BakeCoverage, CentresOverlapsAndPadding) {
    Mesh mesh = uv_mesh({{0.25f, 0.25f}, {0.75f, 0.25f}, {0.75f, 0.75f}, {0.25f, 0.75f}},
                        {0, 1, 2, 0, 2, 3});
    {
        const preview::TexelCover cover(mesh, preview::UvTile{}, 8, 8, 3);
        EXPECT_EQ(cover.covered(), 16);
        EXPECT_EQ(cover.overlapped(), 0);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                const bool inside = x >= 2 && x <= 5 && y >= 2 && y <= 5;
                const int32_t owner = cover.owner(size_t(y * 8 + x));
                EXPECT_EQ(owner >= 0, inside) << x << ", " << y;
                // Triangle 0 holds the centres right of the diagonal u = v
                // (x > 7 - y in the image), triangle 1 the rest, the diagonal's
                // included.
                if (inside) {
                    EXPECT_EQ(owner, (7 - y) < x ? 0 : 1) << x << ", " << y;
                }
            }
        }
    }
    // An island in the upper left quarter of texture space (u < 0.5, v > 0.5)
    // covers the top left texels of the image.
    {
        const Mesh corner = uv_mesh({{0.0f, 0.5f}, {0.5f, 0.5f}, {0.0f, 1.0f}}, {0, 1, 2});
        const preview::TexelCover cover(corner, preview::UvTile{}, 8, 8);
        EXPECT_GE(cover.owner(8), 0); // x 0, y 1: (0.0625, 0.8125)
        EXPECT_LT(cover.owner(7), 0);
        EXPECT_LT(cover.owner(7 * 8), 0);
    }
    mesh.positions.push_back({0, 0, 0});
    mesh.normals.push_back({0, 0, 1});
    mesh.uvs.push_back({0.25f, 0.25f});
    mesh.triangles.insert(mesh.triangles.end(), {4, 1, 3}); // over the lower left half
    const preview::TexelCover overlapping(mesh, preview::UvTile{}, 8, 8, 2);
    EXPECT_EQ(overlapping.covered(), 16);
    EXPECT_EQ(overlapping.overlapped(), 6); // the centres strictly below the anti-diagonal
    for (size_t i = 0; i < 64; ++i) {
        EXPECT_NE(overlapping.owner(i), 2) << i;
    }

    // Padding by 2: the texels one and two steps out take their nearest
    // island texel; three steps out stay empty.
    Image image;
    image.width = image.height = 8;
    image.rgba.assign(64 * 4, 0.0f);
    image.measure.assign(64, 0.0f);
    for (int y = 2; y <= 5; ++y) {
        for (int x = 2; x <= 5; ++x) {
            float* texel = &image.rgba[size_t(y * 8 + x) * 4];
            texel[0] = float(x) + 0.1f * float(y); // which texel it came from
            texel[3] = 1.0f;
            image.measure[size_t(y * 8 + x)] = -texel[0];
        }
    }
    EXPECT_EQ(preview::pad_image(image, 2), 64 - 16);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int nx = std::min(5, std::max(2, x)), ny = std::min(5, std::max(2, y));
            const float* texel = &image.rgba[size_t(y * 8 + x) * 4];
            EXPECT_EQ(texel[3], 1.0f) << x << ", " << y;
            EXPECT_FLOAT_EQ(texel[0], float(nx) + 0.1f * float(ny)) << x << ", " << y;
            EXPECT_FLOAT_EQ(image.measure[size_t(y * 8 + x)], -texel[0]);
        }
    }
    Image wide;
    wide.width = 12;
    wide.height = 1;
    wide.rgba.assign(12 * 4, 0.0f);
    wide.rgba[4 * 5] = 0.5f;
    wide.rgba[4 * 5 + 3] = 1.0f;
    EXPECT_EQ(preview::pad_image(wide, 3), 6);
    for (int x = 0; x < 12; ++x) {
        EXPECT_EQ(wide.rgba[size_t(4 * x + 3)], std::abs(x - 5) <= 3 ? 1.0f : 0.0f) << x;
    }
}

// The tiles the texture coordinates reach into, named 1001 + u + 10 v;
// coordinates on a tile's edge do not open the next one. Without UDIM,
// coordinates past 0-1 are refused naming --udim; coordinates that are not
// finite and triangles without area in texture space are refused.
TEST(BakeCoverage, UdimTilesNamesAndRefusals) {
    const Mesh two = uv_mesh(
        {{0.0f, 0.0f}, {1.0f, 0.0f}, {1.0f, 1.0f}, {1.25f, 2.25f}, {1.75f, 2.25f}, {1.75f, 2.75f}},
        {0, 1, 2, 3, 4, 5});
    std::vector<preview::UvTile> tiles;
    std::string error;
    ASSERT_TRUE(preview::plan_tiles(two, true, tiles, error)) << error;
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles[0].number(), 1001);
    EXPECT_EQ(tiles[1].number(), 1022); // column 1, row 2
    EXPECT_EQ(preview::udim_name("out/a.b/map.png", 1012), "out/a.b/map.1012.png");
    EXPECT_EQ(preview::udim_name("out.d/map", 1001), "out.d/map.1001");
    // The second tile's island, baked into it: its texels and no others.
    const preview::TexelCover cover(two, tiles[1], 8, 8);
    EXPECT_EQ(cover.covered(), 6); // the centres right of its diagonal edge
    EXPECT_FALSE(preview::plan_tiles(two, false, tiles, error));
    EXPECT_NE(error.find("vertex 3 has texture coordinates (1.25, 2.25) beyond the 0-1 square; "
                         "bake them into UDIM tiles with --udim"),
              std::string::npos)
        << error;
    Mesh bad = two;
    bad.uvs[4].v = NAN;
    EXPECT_FALSE(preview::plan_tiles(bad, true, tiles, error));
    EXPECT_EQ(error, "vertex 4 has a texture coordinate that is not a finite number");
    bad.uvs[4] = {1.5f, 2.5f}; // on the line from 3 to 5
    EXPECT_FALSE(preview::plan_tiles(bad, true, tiles, error));
    EXPECT_EQ(error.rfind("triangle 1 has no area in texture space", 0), 0u) << error;
    bad.uvs[4] = {10.5f, 2.5f};
    EXPECT_FALSE(preview::plan_tiles(bad, true, tiles, error));
    EXPECT_NE(error.find("outside the UDIM tiles"), std::string::npos) << error;
}

} // namespace
