// The scene the preview renders: analytic surfaces and triangle meshes,
// every one of them ray cast as triangles with Embree.
#pragma once

#include <embree3/rtcore.h>

#include <string>
#include <vector>

#include "preview/mesh/curvature.h"
#include "preview/mesh/mesh.h"
#include "preview/progress/progress.h"
#include "preview/scene/surfaces.h"
#include "shader/renderer.h"

namespace preview {

struct Object;

// Where the derivatives a hit hands the shader come from: the built-in
// surface's exact ones; estimated from the mesh (a curvature tensor per
// vertex, blended at the hit); or none (derivs is null).
enum class DerivativeSource { exact, estimated, none };

// The neighbourhood of the curvature fit, in rings of edges around a vertex:
// 0 chooses it per vertex (CurvatureSettings::rings), which measured best
// on every mesh of the accuracy report (docs/preview-accuracy.md).
constexpr int default_rings = 0;

// What RenderState::primitive points at: one triangle of one object. Its
// address is stable for the scene's lifetime, so it names the triangle.
struct Primitive {
    const Object* object;
    uint32_t triangle;
};

struct Object {
    std::string name;
    bool analytic = false;
    // False for a surface shown as a free-form surface: it is still ray cast
    // as triangles, but offers no triangle data to the shader.
    bool has_triangles = true;
    Surface surface;        // when analytic
    Float3 offset{0, 0, 0}; // translation into the world
    Mesh mesh;              // world-space positions, unit vertex normals, texture coordinates
    std::vector<float> uv;  // built-in surface: (s, t) per vertex, also in mesh.uvs
    DerivativeSource derivatives = DerivativeSource::none;
    OnDemandCurvature curvature;    // when estimated: fitted as hits need it
    bool curvature_pending = false; // to be prepared when the scene is committed
    int rings = default_rings;      // the neighbourhood of its fits
    Float3 bounds_min{}, bounds_max{};
    std::vector<Primitive> primitives; // one per triangle
    // One per triangle, as its winding gives it: computed once, since every
    // hit and every baked texel needs its triangle's.
    std::vector<Vector> flat_normals;
};

// Everything known at one ray hit.
struct Hit {
    const Primitive* primitive = nullptr;
    Vector ray_origin{}; // where the ray that made this hit started
    float bary[3] = {};  // weights of vertices a, b, c
    Vector point{};
    Vector normal{};           // shading normal, unit
    Vector geometric_normal{}; // flat normal, unit, on the shading normal's side
    bool has_derivs = false;
    Vector derivs[5] = {};
    // The surface coordinates that connections read: a built-in surface's
    // parameters (s, t), a mesh's texture coordinates where it has them,
    // otherwise the point's place across the bounding box in x and y.
    float u = 0.0f, v = 0.0f;
};

// How Embree builds the scene's BVH. The high quality (spatial splits) pays
// on small scenes, where it costs milliseconds; on a mesh of millions of
// triangles it takes seconds and twice the memory, where the low quality
// with compact nodes builds many times as fast, and for primary rays at
// preview sizes the render costs about the same (bench/README.md has the
// figures). By size: low from 2^18 triangles on, high below.
enum class BuildQuality { by_size, low, high };

class Scene {
  public:
    // The Embree device takes its configuration string from the environment
    // variable BENDLENS_EMBREE_CONFIG, if set: "threads=1" keeps the scene
    // build on the calling thread, which the thread-sanitizer run needs
    // (Embree's task threads are not instrumented).
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // Adds an analytic surface, tessellated at fineness n, moved by offset.
    // A free-form surface offers the shader no triangle data. With estimated
    // derivatives the surface is shown as the mesh it is tessellated into:
    // points, normals and derivatives come from the triangles, as for a
    // loaded mesh, so the estimate can be checked against the exact values.
    void add_surface(const std::string& name, const Surface& surface, Float3 offset, int n,
                     bool free_form = false, DerivativeSource derivatives = DerivativeSource::exact,
                     int rings = default_rings);
    // Adds a prepared mesh (see prepare_mesh), moved by offset. Exact
    // derivatives do not exist for a mesh and are read as estimated.
    void add_mesh(const std::string& name, Mesh mesh, Float3 offset,
                  DerivativeSource derivatives = DerivativeSource::estimated,
                  int rings = default_rings);
    // Builds what every hit needs (bounds, primitives, flat normals) and the
    // acceleration structure; false (with a reason) if Embree fails. Embree
    // reads the objects' vertex and index arrays in place, so no object may
    // change after this. The estimated derivatives' welded surfaces are
    // built meanwhile on a thread of their own; each vertex is then fitted
    // when a hit first needs it (OnDemandCurvature), in the step that casts
    // that ray. Progress, if given, hears the step "BVH", and "curvature"
    // for the time the surfaces take past everything else. Without
    // rays the acceleration structure is left out, for a caller that casts
    // none (a bake whose method traces no probes): intersect then finds
    // nothing.
    bool commit(std::string& error, Progress* progress = nullptr, bool rays = true);
    // For the benchmark, which compares the two (before commit).
    void set_build_quality(BuildQuality quality) { build_quality_ = quality; }
    // For the benchmark, which measures what watertight hits cost (before
    // commit): false builds with Embree's fast intersection, which lets a
    // few rays through edges that two triangles share.
    void set_robust(bool robust) { robust_ = robust; }

    // Casts a ray; on a hit fills hit. A non-null exclude is never hit.
    // False for every ray in a scene committed without rays.
    bool intersect(const Vector& origin, const Vector& direction, const Primitive* exclude,
                   Hit& hit) const;

    // Describes the surface point at barycentric weights (1 - b1 - b2, b1,
    // b2) of a triangle exactly as a ray hit there is described: the point
    // (the blend of the corners, or the exact surface at the blended
    // parameters), shading and flat normals, derivatives, surface
    // coordinates. A bake builds its states here. The ray is taken to come
    // straight down the shading normal from one unit above the point.
    void describe_point(const Primitive& primitive, float b1, float b2, Hit& hit) const;

    void bounds(Float3& lo, Float3& hi) const;
    // The welded vertices whose curvature is estimated, and how many of them
    // hits have needed (and so fitted) so far.
    void curvature_fits(size_t& fitted, size_t& vertices) const;
    const std::vector<Object>& objects() const { return objects_; }

  private:
    void describe(const Primitive& primitive, float b1, float b2, const Vector& point,
                  Hit& hit) const;

    RTCDevice device_ = nullptr;
    RTCScene scene_ = nullptr;
    BuildQuality build_quality_ = BuildQuality::by_size;
    bool robust_ = true;
    bool traceable_ = false; // committed with its acceleration structure
    std::vector<Object> objects_;
};

} // namespace preview
