// Texture space for a bake: the checks a mesh's texture coordinates must
// pass, the UDIM tiles they fall in, and which triangle covers each texel.
//
// Texel (x, y) of a tile of W x H texels, rows from the top, is centred at
// u = column + (x + 0.5) / W, v = row + 1 - (y + 0.5) / H: v runs up the
// image, as OpenGL, OBJ and (after Assimp's flip) glTF have it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "preview/mesh/mesh.h"

namespace preview {

// One UDIM tile: the unit square [column, column + 1] x [row, row + 1] of
// texture space, numbered 1001 + column + 10 row. Without UDIM the one tile
// is 1001, the 0-1 square.
struct UvTile {
    int column = 0;
    int row = 0;
    int number() const { return 1001 + column + 10 * row; }
};

// UDIM numbering holds ten columns and a hundred rows.
constexpr int udim_columns = 10;
constexpr int udim_rows = 100;

// Checks the texture coordinates of every triangle and lists, in number
// order, the tiles the triangles reach into. Refused with a one-line reason
// naming the vertex or triangle: a coordinate that is not finite; a triangle
// of zero area in texture space; without udim, a coordinate outside [0, 1]
// (the reason names --udim); with it, one outside the UDIM range.
bool plan_tiles(const Mesh& mesh, bool udim, std::vector<UvTile>& tiles, std::string& error);

// A point of texture space located on the mesh: a triangle and the weights
// of its corners b (the first weight is 1 - b1 - b2).
struct UvLocation {
    uint32_t triangle = 0;
    float b1 = 0.0f, b2 = 0.0f;
};

// Which triangle covers each texel centre of one tile.
class TexelCover {
  public:
    // Rasterises the mesh's triangles into the tile. A centre on an edge
    // shared by two triangles belongs to exactly one of them (a fixed
    // tie-break on the edge's direction), so only true overlaps count
    // twice; where triangles overlap, the first one in the mesh's order
    // keeps the texel. Runs on that many threads (the result is the same for
    // any count).
    TexelCover(const Mesh& mesh, const UvTile& tile, int width, int height, int threads = 1);

    int width() const { return width_; }
    int height() const { return height_; }
    // The triangle that holds texel i's centre (i = y * width + x), or -1.
    int32_t owner(size_t i) const { return owner_[i]; }
    long long covered() const { return covered_; }
    // Texels whose centre more than one triangle holds.
    long long overlapped() const { return overlapped_; }

    // The texture coordinates of a point at (x, y) in texel units, from the
    // tile's top-left corner (texel centres at half-integers).
    void texture_point(double x, double y, double& u, double& v) const;

    // Locates a point at (x, y) in texel units inside covered texel i: on the
    // triangle that holds it, looked for among the triangles of texel i and
    // its eight neighbours; when none holds it (the point lies past an
    // island's edge), on the nearest point of texel i's own triangle.
    UvLocation locate(size_t i, double x, double y) const;
    // The centre of texel (x, y) on the triangle that holds it (it must be
    // covered).
    UvLocation centre(int x, int y) const {
        const size_t i = size_t(y) * size_t(width_) + size_t(x);
        return weights(uint32_t(owner_[i]), centre_u_[size_t(x)], centre_v_[size_t(y)]);
    }

  private:
    // What the weights of a point on a triangle take from its corners c0, c1,
    // c2, kept per triangle since a bake asks for them at every texel: c0
    // and c2, the edges c0 - c2 and c1 - c0, and 1 / twice the signed area.
    struct Frame {
        double u0, v0, u2, v2;
        double du20, dv20, du01, dv01;
        double scale;
    };

    void cover_rows(int first, int end, long long& covered, long long& overlapped);
    bool holds(uint32_t triangle, double u, double v) const;
    // The weights of (u, v) on a triangle: orient(c2, c0, p) and
    // orient(c0, c1, p) over orient(c0, c1, c2), with the differences of
    // corners taken from its frame. Inline: a bake asks at every texel.
    UvLocation weights(uint32_t triangle, double u, double v) const {
        const Frame& f = frames_[triangle];
        UvLocation at;
        at.triangle = triangle;
        at.b1 = float((f.du20 * (v - f.v2) - f.dv20 * (u - f.u2)) * f.scale);
        at.b2 = float((f.du01 * (v - f.v0) - f.dv01 * (u - f.u0)) * f.scale);
        return at;
    }
    UvLocation nearest(uint32_t triangle, double u, double v) const;

    const Mesh& mesh_;
    UvTile tile_;
    int width_, height_;
    // The texture coordinates of each column's and row's texel centres.
    std::vector<double> centre_u_, centre_v_;
    std::vector<Frame> frames_; // one per triangle
    // Each band's thread sets its own rows (cover_rows): a map's owners are
    // its size in int32, which a fill on one thread would first touch alone.
    std::unique_ptr<int32_t[]> owner_;
    long long covered_ = 0;
    long long overlapped_ = 0;
};

} // namespace preview
