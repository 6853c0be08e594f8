#include "preview/scene/scene.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <thread>

#include "preview/mesh/parallel.h"

namespace preview {
namespace {

Vector unit(double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0.0)) {
        return {0.0f, 0.0f, 1.0f};
    }
    return {float(x / length), float(y / length), float(z / length)};
}

// The unit normal of triangle t as its winding gives it, in double.
Vector flat_normal(const Mesh& mesh, size_t t) {
    const uint32_t* corner = &mesh.triangles[3 * t];
    const Float3 pa = mesh.positions[corner[0]], pb = mesh.positions[corner[1]],
                 pc = mesh.positions[corner[2]];
    const double e1x = double(pb.x) - pa.x, e1y = double(pb.y) - pa.y, e1z = double(pb.z) - pa.z;
    const double e2x = double(pc.x) - pa.x, e2y = double(pc.y) - pa.y, e2z = double(pc.z) - pa.z;
    return unit(e1y * e2z - e1z * e2y, e1z * e2x - e1x * e2z, e1x * e2y - e1y * e2x);
}

// The barycentric weights b1, b2 and the distance t of the ray's hit on
// the triangle, again in double. Embree's robust test, which decides
// which triangle a ray hits without letting it slip between two, computes
// its weights in float from products of three edge lengths: on a model
// below about 1e-8 across they fall into the denormals Embree flushes, and
// the weights come out coarse. Kept as Embree gave them if the double test
// finds the ray parallel to the triangle; clamped into the triangle, since
// a ray along a shared edge may land a rounding outside either.
void refine_hit(const Mesh& mesh, uint32_t triangle, const Vector& origin, const Vector& direction,
                float& b1, float& b2, float& t) {
    const uint32_t* corner = &mesh.triangles[3 * size_t(triangle)];
    const Float3 pa = mesh.positions[corner[0]], pb = mesh.positions[corner[1]],
                 pc = mesh.positions[corner[2]];
    const double e1[3] = {double(pb.x) - pa.x, double(pb.y) - pa.y, double(pb.z) - pa.z};
    const double e2[3] = {double(pc.x) - pa.x, double(pc.y) - pa.y, double(pc.z) - pa.z};
    const double d[3] = {direction.x, direction.y, direction.z};
    const double s[3] = {double(origin.x) - pa.x, double(origin.y) - pa.y, double(origin.z) - pa.z};
    auto cross = [](const double* a, const double* b, double* out) {
        out[0] = a[1] * b[2] - a[2] * b[1];
        out[1] = a[2] * b[0] - a[0] * b[2];
        out[2] = a[0] * b[1] - a[1] * b[0];
    };
    auto dot = [](const double* a, const double* b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    };
    double p[3], q[3];
    cross(d, e2, p);
    const double det = dot(e1, p);
    if (!(std::fabs(det) > 0.0)) {
        return;
    }
    cross(s, e1, q);
    double u = dot(s, p) / det, v = dot(d, q) / det;
    const double distance = dot(e2, q) / det;
    u = std::fmax(u, 0.0);
    v = std::fmax(v, 0.0);
    if (u + v > 1.0) {
        const double sum = u + v;
        u /= sum;
        v /= sum;
    }
    b1 = float(u);
    b2 = float(v);
    if (distance > 0.0) {
        t = float(distance);
    }
}

void grow(Float3& lo, Float3& hi, Float3 p) {
    lo = {std::fmin(lo.x, p.x), std::fmin(lo.y, p.y), std::fmin(lo.z, p.z)};
    hi = {std::fmax(hi.x, p.x), std::fmax(hi.y, p.y), std::fmax(hi.z, p.z)};
}

} // namespace

Scene::Scene() : device_(rtcNewDevice(std::getenv("BENDLENS_EMBREE_CONFIG"))) {
    if (device_ != nullptr) {
        scene_ = rtcNewScene(device_);
    }
}

Scene::~Scene() {
    if (scene_ != nullptr) {
        rtcReleaseScene(scene_);
    }
    if (device_ != nullptr) {
        rtcReleaseDevice(device_);
    }
}

void Scene::add_surface(const std::string& name, const Surface& surface, Float3 offset, int n,
                        bool free_form, DerivativeSource derivatives, int rings) {
    Object object;
    object.name = name;
    object.analytic = derivatives != DerivativeSource::estimated;
    object.derivatives = derivatives;
    object.has_triangles = !free_form;
    object.surface = surface;
    object.offset = offset;
    int su = 0, sv = 0;
    tessellation_segments(surface, n, su, sv);
    object.mesh = tessellate(surface, su, sv, object.uv);
    // The parameters are the surface's texture coordinates, as a renderer
    // hands a parametric surface's (u, v) to texture lookups and bakes.
    object.mesh.uvs.resize(object.uv.size() / 2);
    for (size_t v = 0; v < object.mesh.uvs.size(); ++v) {
        object.mesh.uvs[v] = {object.uv[2 * v], object.uv[2 * v + 1]};
    }
    for (Float3& p : object.mesh.positions) {
        p = {p.x + offset.x, p.y + offset.y, p.z + offset.z};
    }
    object.curvature_pending = derivatives == DerivativeSource::estimated;
    object.rings = rings;
    objects_.push_back(std::move(object));
}

void Scene::add_mesh(const std::string& name, Mesh mesh, Float3 offset,
                     DerivativeSource derivatives, int rings) {
    Object object;
    object.name = name;
    object.mesh = std::move(mesh);
    object.offset = offset;
    object.derivatives =
        derivatives == DerivativeSource::none ? derivatives : DerivativeSource::estimated;
    for (Float3& p : object.mesh.positions) {
        p = {p.x + offset.x, p.y + offset.y, p.z + offset.z};
    }
    object.curvature_pending = object.derivatives == DerivativeSource::estimated;
    object.rings = rings;
    objects_.push_back(std::move(object));
}

namespace {

// From this many triangles on, Embree's low build quality (BuildQuality).
constexpr size_t large_scene_triangles = size_t(1) << 18;

bool report_build(void* progress, double share) {
    static_cast<Progress*>(progress)->advance(share);
    return true; // never cancel
}

// The thread that prepares the objects' curvature fits beside the rest of
// commit, joined on every way out of it; the time it runs past the rest is
// the step "curvature".
struct CurvatureSetUp {
    std::thread thread;
    Progress* progress = nullptr;
    CurvatureSetUp() = default;
    CurvatureSetUp(const CurvatureSetUp&) = delete;
    CurvatureSetUp& operator=(const CurvatureSetUp&) = delete;
    ~CurvatureSetUp() {
        if (thread.joinable()) {
            ProgressStep step(progress, "curvature", false);
            thread.join();
        }
    }
};

} // namespace

bool Scene::commit(std::string& error, Progress* progress, bool rays) {
    if (device_ == nullptr || scene_ == nullptr) {
        error = "Embree could not create a device";
        return false;
    }
    for (Object& object : objects_) {
        // Embree reads a vertex as 16 bytes, so the positions get room for
        // one more; done first, since the set-up below reads them.
        object.mesh.positions.push_back({});
        object.mesh.positions.pop_back();
    }
    // The welded surface each fit walks is built while the flat normals and
    // the BVH are: those keep the cores only partly busy (commit_bvh), and
    // on a big mesh the surface takes as long as the BVH.
    CurvatureSetUp set_up;
    set_up.progress = progress;
    if (std::any_of(objects_.begin(), objects_.end(),
                    [](const Object& object) { return object.curvature_pending; })) {
        set_up.thread = std::thread([this] {
            for (Object& object : objects_) {
                if (object.curvature_pending) {
                    CurvatureSettings settings;
                    settings.rings = object.rings;
                    object.curvature.prepare(object.mesh, settings);
                    object.curvature_pending = false;
                }
            }
        });
    }
    for (Object& object : objects_) {
        const Mesh& mesh = object.mesh;
        object.bounds_min = object.bounds_max = mesh.positions.at(0);
        for (Float3 p : mesh.positions) {
            grow(object.bounds_min, object.bounds_max, p);
        }
        const size_t triangles = mesh.triangles.size() / 3;
        object.primitives.resize(triangles);
        object.flat_normals.resize(triangles);
        // On every core: a big mesh's flat normals took as long as its BVH.
        constexpr size_t block = 1 << 16;
        run_chunks((triangles + block - 1) / block, [&](size_t chunk) {
            for (size_t t = chunk * block; t < std::min(triangles, (chunk + 1) * block); ++t) {
                object.primitives[t] = {&object, uint32_t(t)};
                object.flat_normals[t] = flat_normal(mesh, t);
            }
        });
    }
    if (!rays) {
        return true;
    }
    ProgressStep step(progress, "BVH");
    size_t total_triangles = 0;
    std::vector<RTCGeometry> geometries;
    for (size_t i = 0; i < objects_.size(); ++i) {
        Object& object = objects_[i];
        const Mesh& mesh = object.mesh;
        const size_t triangles = mesh.triangles.size() / 3;
        RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        // Embree reads the mesh's own arrays rather than copies.
        rtcSetSharedGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                   mesh.positions.data(), 0, sizeof(Float3), mesh.positions.size());
        rtcSetSharedGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                   mesh.triangles.data(), 0, 3 * sizeof(uint32_t), triangles);
        if (rtcGetDeviceError(device_) != RTC_ERROR_NONE) {
            rtcReleaseGeometry(geometry);
            for (RTCGeometry other : geometries) {
                rtcReleaseGeometry(other);
            }
            error = "Embree could not take the geometry of " + object.name;
            return false;
        }
        total_triangles += triangles;
        geometries.push_back(geometry);
    }
    const bool large =
        build_quality_ == BuildQuality::low ||
        (build_quality_ == BuildQuality::by_size && total_triangles >= large_scene_triangles);
    const RTCBuildQuality quality = large ? RTC_BUILD_QUALITY_LOW : RTC_BUILD_QUALITY_HIGH;
    for (size_t i = 0; i < geometries.size(); ++i) {
        RTCGeometry geometry = geometries[i];
        // A geometry's own quality decides how its triangles are built.
        rtcSetGeometryBuildQuality(geometry, quality);
        rtcCommitGeometry(geometry);
        rtcAttachGeometryByID(scene_, geometry, unsigned(i));
        rtcReleaseGeometry(geometry);
    }
    rtcSetSceneBuildQuality(scene_, quality);
    // Robust intersection is watertight: a ray through the edge two
    // triangles share hits one of them, where the fast test may miss both
    // and show the far side through a closed mesh as a speck. Probe rays go
    // through the same scene. Compact nodes hold a large scene in about half
    // the memory.
    int flags = robust_ ? RTC_SCENE_FLAG_ROBUST : RTC_SCENE_FLAG_NONE;
    if (large) {
        flags |= RTC_SCENE_FLAG_COMPACT;
    }
    rtcSetSceneFlags(scene_, RTCSceneFlags(flags));

    if (progress != nullptr) {
        rtcSetSceneProgressMonitorFunction(scene_, report_build, progress);
    }
    rtcCommitScene(scene_);
    rtcSetSceneProgressMonitorFunction(scene_, nullptr, nullptr);
    if (rtcGetDeviceError(device_) != RTC_ERROR_NONE) {
        error = "Embree could not build the scene";
        return false;
    }
    traceable_ = true;
    return true;
}

void Scene::bounds(Float3& lo, Float3& hi) const {
    lo = hi = objects_.at(0).bounds_min;
    for (const Object& object : objects_) {
        grow(lo, hi, object.bounds_min);
        grow(lo, hi, object.bounds_max);
    }
}

bool Scene::intersect(const Vector& origin, const Vector& direction, const Primitive* exclude,
                      Hit& hit) const {
    if (!traceable_) {
        return false;
    }
    float near = 0.0f;
    // Stepping past an excluded triangle: a few tries, since a ray crosses the
    // same triangle only once, but its neighbours may share the entry point.
    for (int attempt = 0; attempt < 8; ++attempt) {
        RTCIntersectContext context;
        rtcInitIntersectContext(&context);
        RTCRayHit ray{};
        ray.ray.org_x = origin.x;
        ray.ray.org_y = origin.y;
        ray.ray.org_z = origin.z;
        ray.ray.dir_x = direction.x;
        ray.ray.dir_y = direction.y;
        ray.ray.dir_z = direction.z;
        ray.ray.tnear = near;
        ray.ray.tfar = std::numeric_limits<float>::infinity();
        ray.ray.mask = 0xFFFFFFFFu;
        ray.ray.time = 0.0f;
        ray.ray.flags = 0;
        ray.hit.geomID = RTC_INVALID_GEOMETRY_ID;
        ray.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
        rtcIntersect1(scene_, &context, &ray);
        if (ray.hit.geomID == RTC_INVALID_GEOMETRY_ID) {
            return false;
        }
        const Object& object = objects_[ray.hit.geomID];
        const Primitive& primitive = object.primitives[ray.hit.primID];
        if (&primitive == exclude) {
            near = std::nextafter(ray.ray.tfar, std::numeric_limits<float>::infinity());
            continue;
        }
        float b1 = ray.hit.u, b2 = ray.hit.v, t = ray.ray.tfar;
        refine_hit(object.mesh, primitive.triangle, origin, direction, b1, b2, t);
        const Vector point{origin.x + t * direction.x, origin.y + t * direction.y,
                           origin.z + t * direction.z};
        describe(primitive, b1, b2, point, hit);
        hit.ray_origin = origin;
        return true;
    }
    return false;
}

void Scene::describe_point(const Primitive& primitive, float b1, float b2, Hit& hit) const {
    const Mesh& mesh = primitive.object->mesh;
    const uint32_t* corner = &mesh.triangles[3 * size_t(primitive.triangle)];
    const double w1 = b1, w2 = b2, w0 = 1.0 - w1 - w2;
    const Float3 pa = mesh.positions[corner[0]], pb = mesh.positions[corner[1]],
                 pc = mesh.positions[corner[2]];
    const Vector point{float(w0 * pa.x + w1 * pb.x + w2 * pc.x),
                       float(w0 * pa.y + w1 * pb.y + w2 * pc.y),
                       float(w0 * pa.z + w1 * pb.z + w2 * pc.z)};
    describe(primitive, b1, b2, point, hit);
    hit.ray_origin = {hit.point.x + hit.normal.x, hit.point.y + hit.normal.y,
                      hit.point.z + hit.normal.z};
}

void Scene::curvature_fits(size_t& fitted, size_t& vertices) const {
    fitted = vertices = 0;
    for (const Object& object : objects_) {
        fitted += object.curvature.fitted();
        vertices += object.curvature.vertices();
    }
}

void Scene::describe(const Primitive& primitive, float b1, float b2, const Vector& point,
                     Hit& hit) const {
    const Object& object = *primitive.object;
    const Mesh& mesh = object.mesh;
    const uint32_t* corner = &mesh.triangles[3 * size_t(primitive.triangle)];
    const float b0 = 1.0f - b1 - b2;
    // Every field is written below (the derivatives only where they exist,
    // zeros otherwise): clearing the whole record first cost a bake a few
    // percent, since it is rebuilt at every texel.
    hit.ray_origin = {};
    hit.has_derivs = false;
    hit.primitive = &primitive;
    hit.bary[0] = b0;
    hit.bary[1] = b1;
    hit.bary[2] = b2;
    Vector flat = object.flat_normals[primitive.triangle];

    if (object.analytic) {
        // The exact surface at the parametric point of the hit.
        const float* uv = object.uv.data();
        const double s = b0 * uv[2 * corner[0]] + b1 * uv[2 * corner[1]] + b2 * uv[2 * corner[2]];
        const double t =
            b0 * uv[2 * corner[0] + 1] + b1 * uv[2 * corner[1] + 1] + b2 * uv[2 * corner[2] + 1];
        const SurfacePoint exact = evaluate(object.surface, s, t);
        hit.point = {float(exact.position.x + object.offset.x),
                     float(exact.position.y + object.offset.y),
                     float(exact.position.z + object.offset.z)};
        hit.normal = {float(exact.normal.x), float(exact.normal.y), float(exact.normal.z)};
        hit.has_derivs = object.derivatives == DerivativeSource::exact;
        for (int k = 0; k < 5 && hit.has_derivs; ++k) {
            hit.derivs[k] = {float(exact.derivs[k].x), float(exact.derivs[k].y),
                             float(exact.derivs[k].z)};
        }
        hit.u = float(s);
        hit.v = float(t);
    } else {
        hit.point = point;
        const Float3 na = mesh.normals[corner[0]], nb = mesh.normals[corner[1]],
                     nc = mesh.normals[corner[2]];
        hit.normal = unit(double(b0) * na.x + double(b1) * nb.x + double(b2) * nc.x,
                          double(b0) * na.y + double(b1) * nb.y + double(b2) * nc.y,
                          double(b0) * na.z + double(b1) * nb.z + double(b2) * nc.z);
        if (object.derivatives == DerivativeSource::estimated) {
            const Float3 normal{hit.normal.x, hit.normal.y, hit.normal.z};
            Float3 derivs[5];
            hit.has_derivs = derivatives_at(object.curvature, corner, hit.bary, normal, derivs);
            for (int k = 0; k < 5 && hit.has_derivs; ++k) {
                hit.derivs[k] = {derivs[k].x, derivs[k].y, derivs[k].z};
            }
        }
        if (!mesh.uvs.empty()) {
            // Texture coordinates, as a renderer hands them to the shader's
            // connections: the mesh's own, or a built-in surface's
            // parameters when it is shown as its mesh.
            const Float2 ta = mesh.uvs[corner[0]], tb = mesh.uvs[corner[1]],
                         tc = mesh.uvs[corner[2]];
            hit.u = b0 * ta.u + b1 * tb.u + b2 * tc.u;
            hit.v = b0 * ta.v + b1 * tb.v + b2 * tc.v;
        } else {
            // Without them u and v run across the bounding box.
            const float wx = object.bounds_max.x - object.bounds_min.x;
            const float wy = object.bounds_max.y - object.bounds_min.y;
            hit.u = wx > 0.0f ? (point.x - object.bounds_min.x) / wx : 0.0f;
            hit.v = wy > 0.0f ? (point.y - object.bounds_min.y) / wy : 0.0f;
        }
    }
    // The flat normal faces the side of the shading normal, as the shader's
    // vertex-normal method expects of a consistently wound mesh.
    if (flat.x * hit.normal.x + flat.y * hit.normal.y + flat.z * hit.normal.z < 0.0f) {
        flat = {-flat.x, -flat.y, -flat.z};
    }
    hit.geometric_normal = flat;
    if (!hit.has_derivs) {
        for (Vector& d : hit.derivs) {
            d = {};
        }
    }
}

} // namespace preview
