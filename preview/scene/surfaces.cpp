#include "preview/scene/surfaces.h"

#include <cmath>

namespace preview {
namespace {

constexpr double pi = 3.141592653589793;

Double3 cross(Double3 p, Double3 q) {
    return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
}
double dot(Double3 p, Double3 q) {
    return p.x * q.x + p.y * q.y + p.z * q.z;
}
Double3 scaled(Double3 p, double s) {
    return {p.x * s, p.y * s, p.z * s};
}

// How far from a pole the normal is taken, where Pu vanishes.
constexpr double pole_margin = 1e-6;

} // namespace

const char* surface_name(SurfaceKind kind) {
    switch (kind) {
    case SurfaceKind::sphere:
        return "sphere";
    case SurfaceKind::cylinder:
        return "cylinder";
    case SurfaceKind::torus:
        return "torus";
    case SurfaceKind::ellipsoid:
        return "ellipsoid";
    case SurfaceKind::saddle:
        return "saddle";
    }
    return "?";
}

bool surface_from_name(const std::string& name, SurfaceKind& kind) {
    for (SurfaceKind k : {SurfaceKind::sphere, SurfaceKind::cylinder, SurfaceKind::torus,
                          SurfaceKind::ellipsoid, SurfaceKind::saddle}) {
        if (name == surface_name(k)) {
            kind = k;
            return true;
        }
    }
    return false;
}

void parameter_range(const Surface& surface, double& u0, double& u1, double& v0, double& v1) {
    u0 = 0.0, u1 = 1.0, v0 = 0.0, v1 = 1.0;
    switch (surface.kind) {
    case SurfaceKind::sphere:
    case SurfaceKind::ellipsoid:
        u0 = 0.0, u1 = 2.0 * pi, v0 = 0.0, v1 = pi; // azimuth, polar angle from +y
        return;
    case SurfaceKind::cylinder:
        u0 = 0.0, u1 = 2.0 * pi, v0 = -surface.b, v1 = surface.b; // angle, height
        return;
    case SurfaceKind::torus:
        u0 = 0.0, u1 = 2.0 * pi, v0 = 0.0, v1 = 2.0 * pi; // around the ring, around the tube
        return;
    case SurfaceKind::saddle:
        u0 = -surface.b, u1 = surface.b, v0 = -surface.b, v1 = surface.b; // x, z
        return;
    }
}

SurfacePoint evaluate(const Surface& surface, double s, double t) {
    double u0, u1, v0, v1;
    parameter_range(surface, u0, u1, v0, v1);
    const double u = u0 + s * (u1 - u0);
    const double v = v0 + t * (v1 - v0);
    const double cu = std::cos(u), su = std::sin(u), cv = std::cos(v), sv = std::sin(v);
    const double a = surface.a, b = surface.b, c = surface.c;
    SurfacePoint p{};
    Double3* d = p.derivs;
    // The sign that turns Pu x Pv outward for this parametrisation.
    double orientation = 1.0;
    switch (surface.kind) {
    case SurfaceKind::sphere:
    case SurfaceKind::ellipsoid: {
        // A sphere is the ellipsoid with three equal semi-axes.
        const double ax = a, by = surface.kind == SurfaceKind::sphere ? a : b,
                     cz = surface.kind == SurfaceKind::sphere ? a : c;
        p.position = {ax * sv * cu, by * cv, cz * sv * su};
        d[0] = {-ax * sv * su, 0.0, cz * sv * cu};
        d[1] = {ax * cv * cu, -by * sv, cz * cv * su};
        d[2] = {-ax * sv * cu, 0.0, -cz * sv * su};
        d[3] = {-ax * sv * cu, -by * cv, -cz * sv * su};
        d[4] = {-ax * cv * su, 0.0, cz * cv * cu};
        break;
    }
    case SurfaceKind::cylinder:
        p.position = {a * cu, v, a * su};
        d[0] = {-a * su, 0.0, a * cu};
        d[1] = {0.0, 1.0, 0.0};
        d[2] = {-a * cu, 0.0, -a * su};
        d[3] = {0.0, 0.0, 0.0};
        d[4] = {0.0, 0.0, 0.0};
        orientation = -1.0;
        break;
    case SurfaceKind::torus: {
        const double w = a + b * cv;
        p.position = {w * cu, b * sv, w * su};
        d[0] = {-w * su, 0.0, w * cu};
        d[1] = {-b * sv * cu, b * cv, -b * sv * su};
        d[2] = {-w * cu, 0.0, -w * su};
        d[3] = {-b * cv * cu, -b * sv, -b * cv * su};
        d[4] = {b * sv * su, 0.0, -b * sv * cu};
        orientation = -1.0;
        break;
    }
    case SurfaceKind::saddle:
        p.position = {u, a * (u * u - v * v), v};
        d[0] = {1.0, 2.0 * a * u, 0.0};
        d[1] = {0.0, -2.0 * a * v, 1.0};
        d[2] = {0.0, 2.0 * a, 0.0};
        d[3] = {0.0, -2.0 * a, 0.0};
        d[4] = {0.0, 0.0, 0.0};
        orientation = -1.0;
        break;
    }
    Double3 n = cross(d[0], d[1]);
    double length = std::sqrt(dot(n, n));
    if (!(length > 1e-12 * std::sqrt(dot(d[1], d[1])))) {
        // At a pole Pu vanishes; the normal is the limit from just inside.
        const double inside = t < 0.5 ? pole_margin : 1.0 - pole_margin;
        SurfacePoint near = evaluate(surface, s, inside);
        p.normal = near.normal;
        return p;
    }
    p.normal = scaled(n, orientation / length);
    return p;
}

ExactCurvature exact_curvature(const SurfacePoint& point) {
    const Double3* d = point.derivs;
    const Double3 n = point.normal;
    const double e = dot(d[0], d[0]), f = dot(d[0], d[1]), g = dot(d[1], d[1]);
    const double l = dot(n, d[2]), m = dot(n, d[4]), nn = dot(n, d[3]);
    const double area = e * g - f * f;
    // k1 + k2 = (L G - 2 M F + N E) / (E G - F^2), k1 k2 = (L N - M^2) / (E G - F^2).
    return {-(l * g - 2.0 * m * f + nn * e) / (2.0 * area), (l * nn - m * m) / area};
}

std::vector<Surface> builtin_surfaces() {
    return {
        {SurfaceKind::sphere, 1.0, 1.0, 1.0},    // mean 1, Gaussian 1
        {SurfaceKind::cylinder, 0.7, 1.0, 1.0},  // mean 1/1.4, Gaussian 0
        {SurfaceKind::torus, 0.75, 0.45, 1.0},   // convex outside, concave on the inner ring
        {SurfaceKind::ellipsoid, 1.1, 0.8, 0.6}, // varying, always convex
        {SurfaceKind::saddle, 0.5, 1.0, 1.0},    // mean 0 at the centre, Gaussian -1
    };
}

void tessellation_segments(const Surface& surface, int n, int& segments_u, int& segments_v) {
    switch (surface.kind) {
    case SurfaceKind::sphere:
    case SurfaceKind::ellipsoid:
        segments_u = n, segments_v = (n + 1) / 2;
        return;
    case SurfaceKind::cylinder:
        segments_u = n, segments_v = (n + 3) / 4;
        return;
    case SurfaceKind::torus:
        segments_u = n, segments_v = (n + 1) / 2;
        return;
    case SurfaceKind::saddle:
        segments_u = (n + 1) / 2, segments_v = (n + 1) / 2;
        return;
    }
}

Mesh tessellate(const Surface& surface, int segments_u, int segments_v, std::vector<float>& uv) {
    Mesh mesh;
    uv.clear();
    const int columns = segments_u + 1;
    for (int j = 0; j <= segments_v; ++j) {
        for (int i = 0; i <= segments_u; ++i) {
            const double s = double(i) / segments_u, t = double(j) / segments_v;
            const SurfacePoint p = evaluate(surface, s, t);
            mesh.positions.push_back(
                {float(p.position.x), float(p.position.y), float(p.position.z)});
            mesh.normals.push_back({float(p.normal.x), float(p.normal.y), float(p.normal.z)});
            uv.push_back(float(s));
            uv.push_back(float(t));
        }
    }
    // Where the parametrisation closes (the seam of an angle, a pole), the
    // copies of one point are made bit-identical, as a mesh file's split
    // vertices are: sin(2 pi) is not 0 in floating point, and welding by
    // position must find them.
    auto same_as = [&](int i, int j, int i0, int j0) {
        mesh.positions[size_t(j * columns + i)] = mesh.positions[size_t(j0 * columns + i0)];
    };
    if (surface.kind != SurfaceKind::saddle) {
        for (int j = 0; j <= segments_v; ++j) {
            same_as(segments_u, j, 0, j); // the angle u closes
        }
    }
    if (surface.kind == SurfaceKind::torus) {
        for (int i = 0; i <= segments_u; ++i) {
            same_as(i, segments_v, i, 0); // so does v around the tube
        }
    }
    if (surface.kind == SurfaceKind::sphere || surface.kind == SurfaceKind::ellipsoid) {
        for (int j : {0, segments_v}) {
            Float3& pole = mesh.positions[size_t(j * columns)];
            pole.x = pole.z = 0.0f;
            for (int i = 1; i <= segments_u; ++i) {
                same_as(i, j, 0, j); // every column meets at the pole
            }
        }
    }
    auto add = [&](uint32_t a, uint32_t b, uint32_t c) {
        const Float3 pa = mesh.positions[a], pb = mesh.positions[b], pc = mesh.positions[c];
        const Double3 e1{double(pb.x) - pa.x, double(pb.y) - pa.y, double(pb.z) - pa.z};
        const Double3 e2{double(pc.x) - pa.x, double(pc.y) - pa.y, double(pc.z) - pa.z};
        const Double3 flat = cross(e1, e2);
        if (dot(flat, flat) <= 0.0) {
            return; // collapsed at a pole
        }
        const Float3 na = mesh.normals[a];
        const Double3 reference{double(na.x) + mesh.normals[b].x + mesh.normals[c].x,
                                double(na.y) + mesh.normals[b].y + mesh.normals[c].y,
                                double(na.z) + mesh.normals[b].z + mesh.normals[c].z};
        if (dot(flat, reference) >= 0.0) {
            mesh.triangles.insert(mesh.triangles.end(), {a, b, c});
        } else {
            mesh.triangles.insert(mesh.triangles.end(), {a, c, b});
        }
    };
    for (int j = 0; j < segments_v; ++j) {
        for (int i = 0; i < segments_u; ++i) {
            const uint32_t v00 = uint32_t(j * columns + i), v10 = v00 + 1;
            const uint32_t v01 = v00 + uint32_t(columns), v11 = v01 + 1;
            add(v00, v10, v11);
            add(v00, v11, v01);
        }
    }
    return mesh;
}

} // namespace preview
