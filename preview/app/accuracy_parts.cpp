#include "preview/app/accuracy_parts.h"

#include <random>

namespace preview {

bool hit_under(const Scene& scene, const SurfacePoint& p, Hit& hit) {
    const double lift = 0.05;
    const Vector origin{float(p.position.x + lift * p.normal.x),
                        float(p.position.y + lift * p.normal.y),
                        float(p.position.z + lift * p.normal.z)};
    const Vector down{float(-p.normal.x), float(-p.normal.y), float(-p.normal.z)};
    return scene.intersect(origin, down, nullptr, hit);
}

void print_number(FILE* out, double value) {
    if (std::isnan(value)) {
        std::fprintf(out, " | n/a");
    } else {
        std::fprintf(out, " | %.4g", value);
    }
}

// Rejection sampling against the largest area element on a fine grid.
std::vector<std::pair<double, double>> area_samples(const Surface& surface, int points,
                                                    unsigned seed) {
    auto element = [&](double s, double t) {
        const SurfacePoint p = evaluate(surface, s, t);
        const Double3 a = p.derivs[0], b = p.derivs[1];
        const double x = a.y * b.z - a.z * b.y, y = a.z * b.x - a.x * b.z,
                     z = a.x * b.y - a.y * b.x;
        return std::sqrt(x * x + y * y + z * z);
    };
    double largest = 0.0;
    for (int i = 0; i <= 64; ++i) {
        for (int j = 0; j <= 64; ++j) {
            largest = std::fmax(largest, element(i / 64.0, j / 64.0));
        }
    }
    largest *= 1.05;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::vector<std::pair<double, double>> samples;
    while (int(samples.size()) < points) {
        const double s = uniform(random), t = uniform(random);
        if (uniform(random) * largest < element(s, t)) {
            samples.emplace_back(s, t);
        }
    }
    return samples;
}

} // namespace preview
