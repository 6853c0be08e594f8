#include "preview/mesh/assimp_import.h"

#include <assimp/BaseImporter.h>
#include <assimp/DefaultIOSystem.h>
#include <assimp/Importer.hpp>
#include <assimp/MemoryIOWrapper.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>
#include <vector>

#include "preview/mesh/gltf_guard.h"

namespace preview {
namespace {

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

std::string lower_case(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Whether a space-separated list of extensions (an importer's, as Assimp
// describes it) names this one, in any case. Read in place: every file read
// scans some seventy lists.
bool lists_extension(const char* list, const std::string& extension) {
    const auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    while (*list != '\0') {
        const char* end = list;
        while (*end != '\0' && *end != ' ') {
            ++end;
        }
        if (size_t(end - list) == extension.size() &&
            std::equal(list, end, extension.begin(), same)) {
            return true;
        }
        list = *end == ' ' ? end + 1 : end;
    }
    return false;
}

// ---- Assimp ----

// Files a mesh file names besides itself (an OBJ's material library, a
// glTF's buffers). Parsing a buffer must not touch the file system, so with
// no folder every such file is missing; when loading a file they are read
// from its folder, and only if they are regular files (never a device or a
// pipe that could block). An OBJ's material library is never read: it is
// served empty, since materials are not used, and Assimp 5.2's OBJ parser
// crashes on the lines after a library it cannot find (found by fuzzing).
class SideFiles : public Assimp::DefaultIOSystem {
  public:
    SideFiles(std::string folder, bool serve_empty)
        : folder_(std::move(folder)), serve_empty_(serve_empty) {}

    bool Exists(const char* file) const override {
        const std::string path = resolve(file);
        return serve_empty_ || (!path.empty() && DefaultIOSystem::Exists(path.c_str()));
    }

    Assimp::IOStream* Open(const char* file, const char* mode) override {
        if (serve_empty_) {
            return new Assimp::MemoryIOStream(reinterpret_cast<const uint8_t*>(""), 0);
        }
        const std::string path = resolve(file);
        return path.empty() ? nullptr : DefaultIOSystem::Open(path.c_str(), mode);
    }

  private:
    std::string resolve(const char* file) const {
        if (folder_.empty() || file == nullptr || file[0] == '\0') {
            return "";
        }
        const std::string path = file[0] == '/' ? file : folder_ + "/" + file;
        struct stat info {};
        if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return "";
        }
        return path;
    }

    std::string folder_;
    bool serve_empty_;
};

// An importer that knows only the format asked for. Assimp gives a file that
// the importer for its extension does not recognise to every other importer
// that claims it by content; a file named .gltf could then be read as OBJ
// (and bypass the checks made on OBJ, as fuzzing showed), and each extra
// importer is more code facing untrusted input.
void restrict_importer(Assimp::Importer& importer, const std::string& format) {
    std::vector<Assimp::BaseImporter*> others;
    for (size_t i = 0; i < importer.GetImporterCount(); ++i) {
        const aiImporterDesc* info = importer.GetImporterInfo(i);
        if (info == nullptr || info->mFileExtensions == nullptr ||
            !lists_extension(info->mFileExtensions, format)) {
            others.push_back(importer.GetImporter(i));
        }
    }
    for (Assimp::BaseImporter* other : others) {
        importer.UnregisterLoader(other);
        delete other; // unregistering hands it back to us
    }
}

// Assimp's reasons sometimes run over several lines or name its in-memory
// file; a reason here is one line and names nothing but the problem.
std::string one_line(std::string reason) {
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    std::replace(reason.begin(), reason.end(), '\r', ' ');
    const std::string magic = AI_MEMORYIO_MAGIC_FILENAME;
    for (size_t at; (at = reason.find(magic)) != std::string::npos;) {
        reason.replace(at, magic.size(), "the file");
    }
    while (!reason.empty() && reason.back() == ' ') {
        reason.pop_back();
    }
    return reason.empty() ? "the file cannot be read" : reason;
}

// The format as a user knows it.
std::string format_name(const std::string& format) {
    if (format == "gltf") {
        return "glTF";
    }
    if (format == "glb") {
        return "glTF binary (.glb)";
    }
    std::string upper = format; // OBJ, STL
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return char(std::toupper(c)); });
    return upper;
}

// Assimp's reason in the tool's words: which format could not be read, then
// why, where Assimp says. Its "No suitable reader found" means the reader for
// the format did not recognise the contents at all.
std::string reason_for(const std::string& format, const std::string& assimp_reason) {
    const std::string name = format_name(format);
    std::string reason = one_line(assimp_reason);
    // Assimp names its in-memory file with the format's extension.
    const std::string named = "the file." + format;
    for (size_t at; (at = reason.find(named)) != std::string::npos;) {
        reason.erase(at + 8, format.size() + 1);
    }
    if (reason.find("Failed to determine STL storage") != std::string::npos) {
        return name + ": neither ascii STL nor binary STL of the size its header states (the "
                      "file is damaged or cut short)";
    }
    if (reason.find("No suitable reader") != std::string::npos) {
        const std::string kind = format == "glb" ? "binary glTF" : name;
        return name + ": the contents are not " + kind + " (or the file is damaged or cut short)";
    }
    if (reason.find("too small") != std::string::npos) {
        return name + ": the file is too short to hold a mesh";
    }
    // Assimp's readers often name their format first ("OBJ: ...",
    // "GLTF: ..."); that is kept as ours.
    if (lower_case(reason.substr(0, format.size() + 1)) == format + ":" ||
        (format == "glb" && lower_case(reason.substr(0, 5)) == "gltf:")) {
        return name + reason.substr(reason.find(':'));
    }
    return name + ": cannot read the file: " + reason;
}

bool is_identity(const aiMatrix4x4& m) {
    const aiMatrix4x4 identity;
    for (unsigned r = 0; r < 4; ++r) {
        for (unsigned c = 0; c < 4; ++c) {
            if (m[r][c] != identity[r][c]) {
                return false;
            }
        }
    }
    return true;
}

// A mesh placed in the scene by its node's transform.
struct Placement {
    const aiMesh* mesh;
    aiMatrix4x4 transform;
};

// Every mesh the scene draws, with its node's transform, walking the node
// tree without recursion (a file decides how deep it is).
std::vector<Placement> placements_of(const aiScene& scene) {
    std::vector<Placement> placements;
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> pending;
    if (scene.mRootNode != nullptr) {
        pending.emplace_back(scene.mRootNode, scene.mRootNode->mTransformation);
    }
    while (!pending.empty()) {
        const auto [node, transform] = pending.back();
        pending.pop_back();
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            if (node->mMeshes[i] < scene.mNumMeshes) {
                placements.push_back({scene.mMeshes[node->mMeshes[i]], transform});
            }
        }
        for (unsigned i = 0; i < node->mNumChildren; ++i) {
            pending.emplace_back(node->mChildren[i],
                                 transform * node->mChildren[i]->mTransformation);
        }
    }
    return placements;
}

// Appends the triangles of the placed meshes (lines and points are not
// surfaces and are skipped). Vertices keep the file's values exactly unless
// a node moves them; a mirroring transform reverses the winding, so that the
// triangles still wind counter-clockwise seen from outside.
bool append_placements(const std::vector<Placement>& placements, bool keep_normals, bool keep_uvs,
                       Mesh& mesh, std::string& error) {
    size_t vertices = 0, faces = 0;
    for (const Placement& placement : placements) {
        vertices += placement.mesh->mNumVertices;
        faces += placement.mesh->mNumFaces;
    }
    mesh.positions.reserve(vertices);
    mesh.normals.reserve(keep_normals ? vertices : 0);
    mesh.uvs.reserve(keep_uvs ? vertices : 0);
    mesh.triangles.reserve(3 * faces);
    for (const Placement& placement : placements) {
        const aiMesh& source = *placement.mesh;
        const size_t base = mesh.positions.size();
        if (source.mNumVertices > std::numeric_limits<uint32_t>::max() - base) {
            return fail(error, "the mesh has more than 2^32 vertices");
        }
        const bool moved = !is_identity(placement.transform);
        const aiMatrix3x3 normal_transform = aiMatrix3x3(placement.transform).Inverse().Transpose();
        const bool mirrored = placement.transform.Determinant() < 0.0f;
        for (unsigned v = 0; v < source.mNumVertices; ++v) {
            const aiVector3D p =
                moved ? placement.transform * source.mVertices[v] : source.mVertices[v];
            mesh.positions.push_back({p.x, p.y, p.z});
            if (keep_normals) {
                const aiVector3D n =
                    moved ? normal_transform * source.mNormals[v] : source.mNormals[v];
                mesh.normals.push_back({n.x, n.y, n.z});
            }
            if (keep_uvs) {
                const aiVector3D& uv = source.mTextureCoords[0][v];
                mesh.uvs.push_back({uv.x, uv.y});
            }
        }
        for (unsigned f = 0; f < source.mNumFaces; ++f) {
            const aiFace& face = source.mFaces[f];
            if (face.mNumIndices != 3) {
                continue;
            }
            const unsigned second = mirrored ? 2 : 1, third = mirrored ? 1 : 2;
            for (unsigned corner : {0u, second, third}) {
                mesh.triangles.push_back(uint32_t(base + face.mIndices[corner]));
            }
        }
    }
    return true;
}

// Assimp's importers may leave what a file lacks out of range rather than
// refuse it, and mark a mesh's kinds of faces wrongly. Checked (and the
// kinds set from the faces) before any post-processing step follows them.
bool check_faces(const aiScene& scene, std::string& error) {
    for (unsigned m = 0; m < scene.mNumMeshes; ++m) {
        aiMesh* mesh = scene.mMeshes[m];
        if (mesh == nullptr || (mesh->mNumVertices > 0 && mesh->mVertices == nullptr) ||
            (mesh->mNumFaces > 0 && mesh->mFaces == nullptr)) {
            return fail(error, "the file's meshes are incomplete");
        }
        unsigned types = 0;
        for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
            const aiFace& face = mesh->mFaces[f];
            bool in_range = face.mNumIndices == 0 || face.mIndices != nullptr;
            for (unsigned k = 0; in_range && k < face.mNumIndices; ++k) {
                in_range = face.mIndices[k] < mesh->mNumVertices;
            }
            if (!in_range) {
                return fail(error, "a face names a vertex that does not exist "
                                   "(or the file is cut short)");
            }
            types |= face.mNumIndices == 1   ? aiPrimitiveType_POINT
                     : face.mNumIndices == 2 ? aiPrimitiveType_LINE
                     : face.mNumIndices == 3 ? aiPrimitiveType_TRIANGLE
                                             : aiPrimitiveType_POLYGON;
        }
        // Triangulation trusts these flags and stops the program in an
        // assertion when a mesh said to hold polygons holds none.
        mesh->mPrimitiveTypes = types;
    }
    return true;
}

} // namespace

bool import_with_assimp(const std::string& format, const std::string& folder, const char* data,
                        size_t size, Mesh& mesh, std::string& error) {
    if (size == 0) {
        return fail(error, "the file is empty");
    }
    // Assimp 5.2's OBJ parser takes a NUL byte for the end of its data and
    // then reads past it (a crash found by fuzzing). An OBJ file is text and
    // holds none.
    if (format == "obj" && std::memchr(data, 0, size) != nullptr) {
        return fail(error, "OBJ: the file holds a NUL byte, so it is not text");
    }
    if ((format == "gltf" || format == "glb") &&
        !check_gltf_for_assimp(format, data, size, error)) {
        return false;
    }
    Assimp::Importer importer;
    restrict_importer(importer, format);
    importer.SetIOHandler(new SideFiles(folder, format == "obj")); // the importer owns it
    // A file with bones but no meshes would otherwise get a made-up mesh.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    const aiScene* scene = importer.ReadFileFromMemory(data, size, 0, format.c_str());
    if (scene == nullptr) {
        return fail(error, reason_for(format, importer.GetErrorString()));
    }
    if (!check_faces(*scene, error)) {
        return false;
    }
    // Polygons become triangles (ear clipping, right for concave ones too).
    // Nothing welds, splits or computes normals: welding is done apart
    // (weld.h), normals by prepare_mesh only where the file has none.
    scene = importer.ApplyPostProcessing(aiProcess_Triangulate);
    if (scene == nullptr) {
        return fail(error, reason_for(format, importer.GetErrorString()));
    }
    const std::vector<Placement> placements = placements_of(*scene);
    // The file's normals, if every mesh has them. STL's normals belong to
    // facets: as vertex normals they would make every triangle flat.
    bool keep_normals = format != "stl";
    // Texture coordinates likewise: the first set (an OBJ's vt, a glTF's
    // TEXCOORD_0), when every mesh has one.
    bool keep_uvs = !placements.empty();
    for (const Placement& placement : placements) {
        keep_normals = keep_normals && placement.mesh->HasNormals();
        keep_uvs = keep_uvs && placement.mesh->HasTextureCoords(0);
    }
    return append_placements(placements, keep_normals, keep_uvs, mesh, error);
}

} // namespace preview
