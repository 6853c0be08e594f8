// Built-in analytic surfaces with exact first and second derivatives.
//
// Each surface is a map P(u, v) over a rectangle of parameters. The preview
// ray casts a fine tessellation of it, then evaluates the exact point,
// normal and derivatives at the parametric point of the hit, so that the
// shader's method 0 sees the true surface and method 1 sees exact vertex
// normals on the tessellation.
#pragma once

#include <string>
#include <vector>

#include "preview/mesh/mesh.h"

namespace preview {

enum class SurfaceKind { sphere, cylinder, torus, ellipsoid, saddle };

struct Surface {
    SurfaceKind kind = SurfaceKind::sphere;
    // sphere: a = radius; cylinder: a = radius, b = half height;
    // torus: a = ring radius, b = tube radius; ellipsoid: semi-axes a (x),
    // b (y), c (z); saddle: y = a (x^2 - z^2) over |x|, |z| <= b.
    double a = 1.0, b = 1.0, c = 1.0;
};

struct Double3 {
    double x, y, z;
};

// The exact geometry at one parameter point.
struct SurfacePoint {
    Double3 position;
    Double3 normal;    // unit, outward (upward for the saddle)
    Double3 derivs[5]; // dP/du, dP/dv, d2P/du2, d2P/dv2, d2P/dudv
};

// The curvature the shader's measures stand for, with its sign convention:
// mean = -(k1 + k2) / 2 for curvatures k taken against the outward normal,
// so a convex surface has positive mean; gaussian = k1 k2.
struct ExactCurvature {
    double mean;
    double gaussian;
};

const char* surface_name(SurfaceKind kind);
bool surface_from_name(const std::string& name, SurfaceKind& kind);

// The surface's parameter rectangle, [u0, u1] x [v0, v1].
void parameter_range(const Surface& surface, double& u0, double& u1, double& v0, double& v1);

// The geometry at parameters (s, t) in [0, 1]^2, mapped onto the rectangle.
SurfacePoint evaluate(const Surface& surface, double s, double t);

ExactCurvature exact_curvature(const SurfacePoint& point);

// A grid of (segments_u + 1) x (segments_v + 1) vertices with exact unit
// normals; uv receives each vertex's (s, t). Triangles that collapse at a
// pole are left out. Triangles wind so that their flat normal faces the
// surface normal.
Mesh tessellate(const Surface& surface, int segments_u, int segments_v, std::vector<float>& uv);

// Segments along u and v for a tessellation fineness n (segments around a
// closed direction).
void tessellation_segments(const Surface& surface, int n, int& segments_u, int& segments_v);

// The built-in surfaces as the default scene shows them, in its order.
std::vector<Surface> builtin_surfaces();

} // namespace preview
