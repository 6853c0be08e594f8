#include "preview/image/padding.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace preview {
namespace {

// The texels padding fills are named by their index, y * width + x; a bake
// is at most 16384 x 16384 texels, which int32 indices hold.
struct Grid {
    int width, height;

    template <typename Visit> void neighbours(int32_t i, Visit visit) const {
        const int x = i % width, y = i / width;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int nx = x + dx, ny = y + dy;
                if ((dx != 0 || dy != 0) && nx >= 0 && nx < width && ny >= 0 && ny < height) {
                    visit(ny * width + nx, nx, ny);
                }
            }
        }
    }

    // Is source a nearer covered texel for the texel at (x, y) than current?
    bool nearer(int32_t source, int32_t current, int x, int y) const {
        auto distance2 = [&](int32_t from) {
            const int64_t dx = from % width - x, dy = from / width - y;
            return dx * dx + dy * dy;
        };
        const int64_t ds = distance2(source), dc = distance2(current);
        return ds < dc || (ds == dc && source < current);
    }
};

// The covered texels with an empty neighbour, in row order.
std::vector<int32_t> first_front(const Grid& grid, const std::vector<int32_t>& source) {
    std::vector<int32_t> front;
    const int w = grid.width, h = grid.height;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const int32_t i = y * w + x;
            if (source[size_t(i)] < 0) {
                continue;
            }
            bool edge = false;
            if (x > 0 && x < w - 1 && y > 0 && y < h - 1) {
                // Inside the image: the eight neighbours without bounds checks.
                const int32_t* s = &source[size_t(i)];
                edge =
                    (s[-1] | s[1] | s[-w - 1] | s[-w] | s[-w + 1] | s[w - 1] | s[w] | s[w + 1]) < 0;
            } else {
                grid.neighbours(i,
                                [&](int32_t n, int, int) { edge = edge || source[size_t(n)] < 0; });
            }
            if (edge) {
                front.push_back(i);
            }
        }
    }
    return front;
}

} // namespace

long long pad_image(Image& image, int texels) {
    const Grid grid{image.width, image.height};
    const size_t count = size_t(image.width) * size_t(image.height);
    if (texels <= 0 || count == 0 || image.rgba.size() != count * 4) {
        return 0;
    }
    texels = std::min(texels, 65535); // steps are counted in 16 bits
    // A map its islands cover whole has nothing to pad: the search below
    // would build two arrays of the map's size to find that out.
    bool empty_texel = false;
    for (size_t i = 0; i < count && !empty_texel; ++i) {
        empty_texel = !(image.rgba[4 * i + 3] > 0.0f);
    }
    if (!empty_texel) {
        return 0;
    }
    // source[i]: the covered texel whose values texel i takes, -1 for none
    // yet; reached[i]: the step at which it was filled (0: covered or never).
    std::vector<int32_t> source(count, -1);
    std::vector<uint16_t> reached(count, 0);
    for (size_t i = 0; i < count; ++i) {
        if (image.rgba[4 * i + 3] > 0.0f) {
            source[i] = int32_t(i);
        }
    }
    std::vector<int32_t> front = first_front(grid, source), next, filled;
    for (int step = 1; step <= texels && !front.empty(); ++step) {
        next.clear();
        for (int32_t i : front) {
            grid.neighbours(i, [&](int32_t n, int nx, int ny) {
                int32_t& to = source[size_t(n)];
                if (to < 0) {
                    to = source[size_t(i)];
                    reached[size_t(n)] = uint16_t(step);
                    next.push_back(n);
                } else if (reached[size_t(n)] == step &&
                           grid.nearer(source[size_t(i)], to, nx, ny)) {
                    to = source[size_t(i)];
                }
            });
        }
        front.swap(next);
        filled.insert(filled.end(), front.begin(), front.end());
    }
    const bool measure = image.measure.size() == count;
    const bool principal = image.k1.size() == count && image.k2.size() == count;
    for (const int32_t t : filled) {
        const size_t i = size_t(t), from = size_t(source[i]);
        for (size_t c = 0; c < 3; ++c) {
            image.rgba[4 * i + c] = image.rgba[4 * from + c];
        }
        image.rgba[4 * i + 3] = 1.0f;
        if (measure) {
            image.measure[i] = image.measure[from];
        }
        if (principal) {
            image.k1[i] = image.k1[from];
            image.k2[i] = image.k2[from];
        }
    }
    return static_cast<long long>(filled.size());
}

} // namespace preview
