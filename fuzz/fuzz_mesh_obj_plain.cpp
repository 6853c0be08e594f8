// The plain OBJ reader alone (preview/mesh/plain_obj.h). parse_mesh tries it
// first on every .obj file, so fuzz_mesh_obj reaches it too, but spends
// nearly all its time in Assimp's importer, where every file the plain
// reader declines goes; here the reader has the whole time.
//
// Checked besides the checks of mesh_target.h: a declined file leaves the
// mesh empty, and an accepted one gives the same mesh, bit for bit, when
// read in chunks of a few bytes, each read on its own thread and the pieces
// joined, as a big file is.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/mesh_target.h"
#include "preview/mesh/plain_obj.h"

namespace {

template <class T> bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

bool same_mesh(const preview::Mesh& a, const preview::Mesh& b) {
    return same_bits(a.positions, b.positions) && same_bits(a.normals, b.normals) &&
           same_bits(a.uvs, b.uvs) && a.triangles == b.triangles;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    preview::Mesh whole;
    const bool read = preview::read_plain_obj(text, size, whole);
    // Chunks of 1 to 16 bytes, decided by the input so that a failure repeats.
    preview::Mesh pieces;
    const bool read_in_pieces = preview::read_plain_obj(text, size, pieces, nullptr, 1 + size % 16);
    fuzz::check(read == read_in_pieces, "read whole and in chunks, one declined");
    if (!read) {
        fuzz::check(whole.positions.empty() && whole.normals.empty() && whole.uvs.empty() &&
                        whole.triangles.empty(),
                    "a declined file left a mesh behind");
        return 0;
    }
    fuzz::check(same_mesh(whole, pieces), "read whole and in chunks, the meshes differ");
    fuzz::check_parsed_mesh(whole);
    return 0;
}
