#include "preview/mesh_curvature.h"

namespace preview {

// Placeholder until the estimator lands: no vertex has an estimate.
void estimate_vertex_curvature(const Mesh& mesh, const CurvatureSettings&,
                               VertexCurvature& curvature) {
    curvature.tensors.assign(mesh.positions.size(), CurvatureTensor{});
    curvature.valid.assign(mesh.positions.size(), 0);
}

bool derivatives_at(const VertexCurvature&, const uint32_t*, const float*, const Vector&, Vector*) {
    return false;
}

} // namespace preview
