#include "preview/render/uv_layout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <thread>

namespace preview {
namespace {

struct Point {
    double u, v;
};

Point corner_of(const Mesh& mesh, uint32_t triangle, int k) {
    const Float2 c = mesh.uvs[mesh.triangles[3 * size_t(triangle) + size_t(k)]];
    return {double(c.u), double(c.v)};
}

// Twice the signed area of (a, b, p): positive when p lies left of a -> b.
double orient(Point a, Point b, Point p) {
    return (b.u - a.u) * (p.v - a.v) - (b.v - a.v) * (p.u - a.u);
}

// A triangle's three edges, each taken along its fixed direction, and on
// which side of it the triangle lies.
struct Edges {
    Point from[3], to[3];
    bool positive[3]; // the triangle lies on the edge's positive side

    explicit Edges(const Point c[3]) {
        for (int k = 0; k < 3; ++k) {
            Point a = c[k], b = c[(k + 1) % 3];
            if (!(a.u < b.u || (a.u == b.u && a.v < b.v))) {
                std::swap(a, b);
            }
            from[k] = a;
            to[k] = b;
            positive[k] = orient(a, b, c[(k + 2) % 3]) > 0.0;
        }
    }

    // p is inside the triangle, or on an edge whose triangle lies on the
    // edge's positive side: the same as nudging every point by one
    // infinitesimal step, so that a point on a shared edge or vertex belongs
    // to exactly one of the triangles around it. Two triangles sharing an
    // edge compute bit-identical values along it, since both take it in
    // the same direction.
    bool contain(Point p) const {
        for (int k = 0; k < 3; ++k) {
            const double at = orient(from[k], to[k], p);
            if (positive[k] ? !(at >= 0.0) : !(at < 0.0)) {
                return false;
            }
        }
        return true;
    }
};

std::string coordinates(double u, double v) {
    char text[64];
    std::snprintf(text, sizeof text, "(%g, %g)", u, v);
    return text;
}

} // namespace

bool plan_tiles(const Mesh& mesh, bool udim, std::vector<UvTile>& tiles, std::string& error) {
    tiles.clear();
    std::set<int> numbers;
    const size_t triangles = mesh.triangles.size() / 3;
    for (size_t t = 0; t < triangles; ++t) {
        Point c[3];
        for (int k = 0; k < 3; ++k) {
            const uint32_t vertex = mesh.triangles[3 * t + size_t(k)];
            c[k] = corner_of(mesh, uint32_t(t), k);
            if (!std::isfinite(c[k].u) || !std::isfinite(c[k].v)) {
                error = "vertex " + std::to_string(vertex) +
                        " has a texture coordinate that is not a finite number";
                return false;
            }
            const double u_end = udim ? udim_columns : 1.0, v_end = udim ? udim_rows : 1.0;
            if (c[k].u < 0.0 || c[k].v < 0.0 || c[k].u > u_end || c[k].v > v_end) {
                error = "vertex " + std::to_string(vertex) + " has texture coordinates " +
                        coordinates(c[k].u, c[k].v) +
                        (udim ? " outside the UDIM tiles (u from 0 to 10, v from 0 to 100)"
                              : " beyond the 0-1 square; bake them into UDIM tiles with --udim");
                return false;
            }
        }
        if (orient(c[0], c[1], c[2]) == 0.0) {
            error = "triangle " + std::to_string(t) +
                    " has no area in texture space (its corners' texture coordinates lie on "
                    "one line)";
            return false;
        }
        // The tiles whose open square the triangle's bounds reach into.
        const double u0 = std::min({c[0].u, c[1].u, c[2].u}),
                     u1 = std::max({c[0].u, c[1].u, c[2].u});
        const double v0 = std::min({c[0].v, c[1].v, c[2].v}),
                     v1 = std::max({c[0].v, c[1].v, c[2].v});
        auto last = [](double first, double end, int count) {
            return std::min(count - 1, std::max(int(first), int(std::ceil(end)) - 1));
        };
        const int column0 = std::min(udim_columns - 1, int(std::floor(u0)));
        const int row0 = std::min(udim_rows - 1, int(std::floor(v0)));
        for (int row = row0; row <= last(row0, v1, udim_rows); ++row) {
            for (int column = column0; column <= last(column0, u1, udim_columns); ++column) {
                numbers.insert(1001 + column + 10 * row);
            }
        }
    }
    for (int number : numbers) {
        tiles.push_back({(number - 1001) % 10, (number - 1001) / 10});
    }
    return true;
}

TexelCover::TexelCover(const Mesh& mesh, const UvTile& tile, int width, int height, int threads)
    : mesh_(mesh), tile_(tile), width_(width), height_(height),
      owner_(new int32_t[size_t(width) * size_t(height)]) {
    centre_u_.resize(size_t(width));
    centre_v_.resize(size_t(height));
    double unused = 0.0;
    for (int x = 0; x < width; ++x) {
        texture_point(x + 0.5, 0.0, centre_u_[size_t(x)], unused);
    }
    for (int y = 0; y < height; ++y) {
        texture_point(0.0, y + 0.5, unused, centre_v_[size_t(y)]);
    }
    frames_.resize(mesh.triangles.size() / 3);
    for (size_t t = 0; t < frames_.size(); ++t) {
        const Point c0 = corner_of(mesh, uint32_t(t), 0), c1 = corner_of(mesh, uint32_t(t), 1),
                    c2 = corner_of(mesh, uint32_t(t), 2);
        // One division a triangle rather than two a point.
        frames_[t] = {c0.u,        c0.v,        c2.u,
                      c2.v,        c0.u - c2.u, c0.v - c2.v,
                      c1.u - c0.u, c1.v - c0.v, 1.0 / orient(c0, c1, c2)};
    }
    // Bands of rows, one a thread; each thread walks every triangle in the
    // mesh's order over its own rows, so the result does not depend on the
    // thread count.
    threads = std::max(1, std::min(threads, height));
    std::vector<long long> covered(size_t(threads), 0), overlapped(size_t(threads), 0);
    std::vector<std::thread> pool;
    for (int band = 0; band < threads; ++band) {
        const int first = int(int64_t(height) * band / threads);
        const int end = int(int64_t(height) * (band + 1) / threads);
        pool.emplace_back([this, first, end, band, &covered, &overlapped]() {
            cover_rows(first, end, covered[size_t(band)], overlapped[size_t(band)]);
        });
    }
    for (std::thread& t : pool) {
        t.join();
    }
    for (int band = 0; band < threads; ++band) {
        covered_ += covered[size_t(band)];
        overlapped_ += overlapped[size_t(band)];
    }
}

void TexelCover::cover_rows(int first, int end, long long& band_covered,
                            long long& band_overlapped) {
    // Counted here, not through the references, which the compiler must
    // assume the owners' stores may alias: a store and a load a texel.
    long long covered = 0, overlapped = 0;
    // The band's owners start empty, set here so that each thread touches
    // its own rows first; a centre a second triangle holds is counted as
    // overlapped once.
    int32_t* const band = &owner_[size_t(first) * size_t(width_)];
    std::fill(band, band + size_t(end - first) * size_t(width_), -1);
    std::vector<uint8_t> counted(size_t(end - first) * size_t(width_), 0);
    const size_t triangles = mesh_.triangles.size() / 3;
    for (size_t t = 0; t < triangles; ++t) {
        Point c[3];
        for (int k = 0; k < 3; ++k) {
            c[k] = corner_of(mesh_, uint32_t(t), k);
        }
        // The texel rows and columns the bounds cover, a texel wider on
        // each side against rounding; contain() decides.
        const double x0 = (std::min({c[0].u, c[1].u, c[2].u}) - tile_.column) * width_ - 1.5;
        const double x1 = (std::max({c[0].u, c[1].u, c[2].u}) - tile_.column) * width_ + 0.5;
        const double y0 = (tile_.row + 1 - std::max({c[0].v, c[1].v, c[2].v})) * height_ - 1.5;
        const double y1 = (tile_.row + 1 - std::min({c[0].v, c[1].v, c[2].v})) * height_ + 0.5;
        if (x1 < 0.0 || y1 < first || x0 > width_ || y0 > end) {
            continue;
        }
        const int xa = std::max(0, int(std::ceil(x0))), xb = std::min(width_ - 1, int(x1));
        const int ya = std::max(first, int(std::ceil(y0))), yb = std::min(end - 1, int(y1));
        const Edges edges(c);
        for (int y = ya; y <= yb; ++y) {
            // Along a row each edge's test is monotone (the centres' u rise,
            // and rounding keeps the order of the products and differences
            // orient takes), so the centres the triangle holds form one run:
            // found from both ends, the texels between need no test.
            const double v = centre_v_[size_t(y)];
            int lo = xa, hi = xb;
            while (lo <= hi && !edges.contain({centre_u_[size_t(lo)], v})) {
                ++lo;
            }
            while (hi > lo && !edges.contain({centre_u_[size_t(hi)], v})) {
                --hi;
            }
            int32_t* const owners = &band[size_t(y - first) * size_t(width_)];
            uint8_t* const twice = &counted[size_t(y - first) * size_t(width_)];
            for (int x = lo; x <= hi; ++x) {
                if (owners[x] < 0) {
                    owners[x] = int32_t(t);
                    ++covered;
                } else if (twice[x] == 0) {
                    twice[x] = 1;
                    ++overlapped;
                }
            }
        }
    }
    band_covered = covered;
    band_overlapped = overlapped;
}

void TexelCover::texture_point(double x, double y, double& u, double& v) const {
    u = tile_.column + x / width_;
    v = tile_.row + (1.0 - y / height_);
}

bool TexelCover::holds(uint32_t triangle, double u, double v) const {
    const Point c[3] = {corner_of(mesh_, triangle, 0), corner_of(mesh_, triangle, 1),
                        corner_of(mesh_, triangle, 2)};
    return Edges(c).contain({u, v});
}

UvLocation TexelCover::nearest(uint32_t triangle, double u, double v) const {
    const Point c[3] = {corner_of(mesh_, triangle, 0), corner_of(mesh_, triangle, 1),
                        corner_of(mesh_, triangle, 2)};
    if (Edges(c).contain({u, v})) {
        return weights(triangle, u, v);
    }
    // The nearest point of the three edges.
    Point best{u, v};
    double best_distance = INFINITY;
    for (int k = 0; k < 3; ++k) {
        const Point a = c[k], b = c[(k + 1) % 3];
        const double du = b.u - a.u, dv = b.v - a.v;
        const double length2 = du * du + dv * dv;
        double s = length2 > 0.0 ? ((u - a.u) * du + (v - a.v) * dv) / length2 : 0.0;
        s = std::min(1.0, std::max(0.0, s));
        const Point q{a.u + s * du, a.v + s * dv};
        const double distance = (q.u - u) * (q.u - u) + (q.v - v) * (q.v - v);
        if (distance < best_distance) {
            best_distance = distance;
            best = q;
        }
    }
    UvLocation at = weights(triangle, best.u, best.v);
    // Rounding may leave a weight a hair outside the triangle.
    at.b1 = std::min(1.0f, std::max(0.0f, at.b1));
    at.b2 = std::min(1.0f - at.b1, std::max(0.0f, at.b2));
    return at;
}

UvLocation TexelCover::locate(size_t i, double x, double y) const {
    double u = 0.0, v = 0.0;
    texture_point(x, y, u, v);
    const int32_t own = owner_[i];
    if (holds(uint32_t(own), u, v)) {
        return weights(uint32_t(own), u, v);
    }
    const int tx = int(i % size_t(width_)), ty = int(i / size_t(width_));
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            const int nx = tx + dx, ny = ty + dy;
            if (nx < 0 || ny < 0 || nx >= width_ || ny >= height_) {
                continue;
            }
            const int32_t other = owner_[size_t(ny) * size_t(width_) + size_t(nx)];
            if (other >= 0 && other != own && holds(uint32_t(other), u, v)) {
                return weights(uint32_t(other), u, v);
            }
        }
    }
    return nearest(uint32_t(own), u, v);
}

} // namespace preview
