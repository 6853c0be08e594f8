#include "preview/mesh/plain_obj.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "preview/mesh/obj_tokens.h"
#include "preview/mesh/parallel.h"
#include "preview/mesh/weld.h"

namespace preview {
namespace {

using namespace obj;

// Reads count numbers, each after at least one blank, then the line's end.
bool read_numbers(const char*& p, const char* end, float* values, int count) {
    for (int k = 0; k < count; ++k) {
        if (p == end || !is_blank(*p)) {
            return false;
        }
        skip_blanks(p, end);
        if (!read_number(p, end, values[k])) {
            return false;
        }
    }
    skip_blanks(p, end);
    return p == end;
}

// ---- The file in chunks of whole lines ----

enum CornerPart : unsigned { uv_part = 1, normal_part = 2 };

struct Counts {
    size_t v = 0, vt = 0, vn = 0, f = 0;
};

struct Chunk {
    const char* begin = nullptr;
    const char* end = nullptr;
    Counts lines;       // of each kind in this chunk
    Counts base;        // of each kind before it
    unsigned forms = 0; // bit 1 << parts for each corner form met
    bool plain = true;
};

// Counts the lines of each kind; false at a line a plain file does not hold.
bool count_lines(Chunk& chunk) {
    const char* p = chunk.begin;
    const char* const end = chunk.end;
    while (p < end) {
        const char *line_end = nullptr, *next = nullptr;
        next_line(p, end, line_end, next);
        const char first = p < line_end ? p[0] : '\n';
        const char second = p + 1 < line_end ? p[1] : '\n';
        if (first == 'v' && is_blank(second)) {
            ++chunk.lines.v;
        } else if (first == 'v' && (second == 't' || second == 'n') && p + 2 < line_end &&
                   is_blank(p[2])) {
            ++(second == 't' ? chunk.lines.vt : chunk.lines.vn);
        } else if (first == 'f' && is_blank(second)) {
            ++chunk.lines.f;
        } else if (first == '#') {
            // Assimp also ends a line at a form feed or a lone carriage return.
            for (const char* c = p; c < line_end; ++c) {
                if (*c == '\f' || *c == '\r') {
                    return false;
                }
            }
        } else if (p != line_end) {
            return false;
        }
        p = next;
    }
    return true;
}

// Where the chunk's lines go in the whole file's arrays.
struct Output {
    Counts total;
    std::vector<Float3> positions, normals;
    std::vector<Float2> uvs;
    // Per corner, three a triangle: the index of its position, texture
    // coordinates and normal in the file's lists.
    std::vector<uint32_t> corner_v, corner_t, corner_n;
};

// Resolves an index of a list that held `seen` items when the face was read
// and holds `total` in the end; false when it names none.
bool resolve(long long index, size_t seen, size_t total, uint32_t& out) {
    const long long resolved = index > 0 ? index - 1 : (long long)seen + index;
    if (resolved < 0 || resolved >= (long long)total) {
        return false;
    }
    out = uint32_t(resolved);
    return true;
}

// Reads one triangle's line (after the `f`), writing its corners at face.
bool read_face(const char*& p, const char* end, const Counts& seen, size_t face, Output& out,
               unsigned& forms) {
    for (int k = 0; k < 3; ++k) {
        if (p == end || !is_blank(*p)) {
            return false;
        }
        skip_blanks(p, end);
        long long v = 0, t = 0, n = 0;
        unsigned parts = 0;
        if (!read_index(p, end, v)) {
            return false;
        }
        if (p < end && *p == '/') {
            ++p;
            if (p < end && *p != '/') {
                // a/t: Assimp takes t for a normal while no vt line came yet.
                if (!read_index(p, end, t) || seen.vt == 0) {
                    return false;
                }
                parts |= uv_part;
            }
            if (p < end && *p == '/') {
                ++p;
                if (!read_index(p, end, n)) {
                    return false;
                }
                parts |= normal_part;
            }
            if (parts == 0) {
                return false;
            }
        }
        if (!at_token_end(p, end)) {
            return false;
        }
        forms |= 1u << parts;
        const size_t at = 3 * face + size_t(k);
        // Without vn lines there is no list of normal corners to write in
        // (nor one of texture corners without vt lines, ruled out above).
        if (!resolve(v, seen.v, out.total.v, out.corner_v[at]) ||
            ((parts & uv_part) && !resolve(t, seen.vt, out.total.vt, out.corner_t[at])) ||
            ((parts & normal_part) &&
             (out.total.vn == 0 || !resolve(n, seen.vn, out.total.vn, out.corner_n[at])))) {
            return false;
        }
    }
    skip_blanks(p, end);
    return p == end;
}

// Reads every line of the chunk into the file's arrays.
bool read_lines(Chunk& chunk, Output& out) {
    Counts seen = chunk.base;
    const char* p = chunk.begin;
    const char* const end = chunk.end;
    float values[3];
    while (p < end) {
        const char *line_end = nullptr, *next = nullptr;
        next_line(p, end, line_end, next);
        // count_lines has seen the first two characters of every line.
        if (p == line_end || p[0] == '#') {
            // empty or a comment
        } else if (p[0] == 'v' && is_blank(p[1])) {
            ++p;
            if (!read_numbers(p, line_end, values, 3)) {
                return false;
            }
            out.positions[seen.v++] = {values[0], values[1], values[2]};
        } else if (p[0] == 'v' && p[1] == 'n') {
            p += 2;
            if (!read_numbers(p, line_end, values, 3)) {
                return false;
            }
            out.normals[seen.vn++] = {values[0], values[1], values[2]};
        } else if (p[0] == 'v' && p[1] == 't') {
            p += 2;
            const char* start = p;
            if (!read_numbers(p, line_end, values, 2)) {
                p = start;
                if (!read_numbers(p, line_end, values, 3)) {
                    return false;
                }
            }
            out.uvs[seen.vt++] = {values[0], values[1]};
        } else if (p[0] == 'f') {
            ++p;
            if (!read_face(p, line_end, seen, seen.f, out, chunk.forms)) {
                return false;
            }
            ++seen.f;
        }
        p = next;
    }
    return true;
}

// Cuts the data into about `count` chunks of whole lines.
std::vector<Chunk> cut_into_chunks(const char* data, size_t size, size_t count) {
    std::vector<Chunk> chunks;
    const char* begin = data;
    const char* const end = data + size;
    for (size_t k = 1; k <= count && begin < end; ++k) {
        const char* cut = k == count ? end : data + size * k / count;
        if (cut < begin) {
            continue;
        }
        if (cut < end) {
            const char* newline =
                static_cast<const char*>(std::memchr(cut, '\n', size_t(end - cut)));
            cut = newline == nullptr ? end : newline + 1;
        }
        Chunk chunk;
        chunk.begin = begin;
        chunk.end = cut;
        chunks.push_back(chunk);
        begin = cut;
    }
    return chunks;
}

// ---- The mesh: one vertex per corner value, in the order first named ----

void gather_mesh(Output& out, unsigned parts, Mesh& mesh) {
    const size_t corners = out.corner_v.size();
    std::vector<uint32_t> order; // per vertex: its first corner
    mesh.triangles.resize(corners);
    auto index_of = [](const std::vector<uint32_t>& list, size_t c) {
        return list.empty() ? 0u : list[c];
    };
    // A corner is a position with texture coordinates and a normal. The
    // vertices of one position form a chain (nearly always of one: a
    // position takes a second vertex only at a seam or a crease), so that
    // finding a corner's vertex costs a look at its position's chain.
    std::vector<uint32_t> first_of(out.total.v, UINT32_MAX); // per position
    std::vector<uint32_t> next_of; // per vertex: the next of its position's
    for (size_t c = 0; c < corners; ++c) {
        const uint32_t v = out.corner_v[c];
        const uint32_t t = index_of(out.corner_t, c), n = index_of(out.corner_n, c);
        uint32_t* link = &first_of[v];
        while (*link != UINT32_MAX && (index_of(out.corner_t, order[*link]) != t ||
                                       index_of(out.corner_n, order[*link]) != n)) {
            link = &next_of[*link];
        }
        uint32_t vertex = *link;
        if (vertex == UINT32_MAX) {
            vertex = *link = uint32_t(order.size());
            order.push_back(uint32_t(c));
            next_of.push_back(UINT32_MAX); // link may point into next_of: not read after this
        }
        mesh.triangles[c] = vertex;
    }
    mesh.positions.resize(order.size());
    mesh.normals.resize(parts & normal_part ? order.size() : 0);
    mesh.uvs.resize(parts & uv_part ? order.size() : 0);
    for (size_t v = 0; v < order.size(); ++v) {
        const uint32_t c = order[v];
        mesh.positions[v] = out.positions[out.corner_v[c]];
        if (parts & normal_part) {
            mesh.normals[v] = out.normals[out.corner_n[c]];
        }
        if (parts & uv_part) {
            mesh.uvs[v] = out.uvs[out.corner_t[c]];
        }
    }
}

} // namespace

bool read_plain_obj(const char* data, size_t size, Mesh& mesh, Progress* progress,
                    size_t chunk_bytes) {
    mesh = Mesh{};
    // A backslash continues a line and a NUL ends Assimp's reading: both are
    // left to Assimp.
    if (size == 0 || std::memchr(data, '\\', size) != nullptr ||
        std::memchr(data, '\0', size) != nullptr) {
        return false;
    }
    // Chunks of about 4 MB by default, so that every core has several.
    const size_t chunk_count =
        std::max<size_t>(1, std::min<size_t>(1 << 16, size / std::max<size_t>(1, chunk_bytes)));
    std::vector<Chunk> chunks = cut_into_chunks(data, size, chunk_count);
    // Counting the lines takes about a fifth of the time, reading the rest.
    std::atomic<size_t> bytes_done{0};
    double progress_start = 0.0, progress_part = 0.2;
    auto report = [&](const Chunk& chunk) {
        const size_t done = bytes_done += size_t(chunk.end - chunk.begin);
        if (progress != nullptr) {
            progress->advance(progress_start + progress_part * double(done) / double(size));
        }
    };
    run_chunks(chunks.size(), [&](size_t k) {
        chunks[k].plain = count_lines(chunks[k]);
        report(chunks[k]);
    });
    Output out;
    for (Chunk& chunk : chunks) {
        if (!chunk.plain) {
            return false;
        }
        chunk.base = out.total;
        out.total.v += chunk.lines.v;
        out.total.vt += chunk.lines.vt;
        out.total.vn += chunk.lines.vn;
        out.total.f += chunk.lines.f;
    }
    if (out.total.f == 0 || out.total.v > UINT32_MAX || 3 * out.total.f > UINT32_MAX) {
        return false;
    }
    out.positions.resize(out.total.v);
    out.normals.resize(out.total.vn);
    out.uvs.resize(out.total.vt);
    out.corner_v.resize(3 * out.total.f);
    out.corner_t.resize(out.total.vt > 0 ? 3 * out.total.f : 0);
    out.corner_n.resize(out.total.vn > 0 ? 3 * out.total.f : 0);
    bytes_done = 0;
    progress_start = 0.2;
    progress_part = 0.8;
    run_chunks(chunks.size(), [&](size_t k) {
        chunks[k].plain = read_lines(chunks[k], out);
        report(chunks[k]);
    });
    unsigned forms = 0;
    for (const Chunk& chunk : chunks) {
        if (!chunk.plain) {
            return false;
        }
        forms |= chunk.forms;
    }
    // One corner form throughout: a file that mixes them gets zero normals
    // or texture coordinates from Assimp where a face has none.
    unsigned parts = 0;
    while (parts < 4 && forms != 1u << parts) {
        ++parts;
    }
    if (parts == 4) {
        return false;
    }
    gather_mesh(out, parts, mesh);
    merge_identical_vertices(mesh);
    return true;
}

} // namespace preview
