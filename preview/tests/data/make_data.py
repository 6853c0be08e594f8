import struct, base64, gzip, json, os, sys
# Writes the small mesh files of the mesh loader tests: python3 make_data.py DIR
D = sys.argv[1]
def w(name, data):
    open(os.path.join(D, name), 'wb').write(data if isinstance(data, bytes) else data.encode())

# OBJ: a face split over two lines by '\', naming vertices defined later and counted from the end.
w('continued_forward.obj', "# faces before their vertices, one split by a backslash\n"
  "f 1 2 \\\n  3\nf 1 3 4\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf -4 -2 -1\n")
# A concave hexagon (an arrow) whose fan from the first corner leaves the outline.
w('concave.obj', "v 0 0 0\nv 4 0 0\nv 4 4 0\nv 2 1 0\nv 0 4 0\nv -1 2 0\nf 2 3 4 5 6 1\n")
# PLY, binary big endian, with normals, its data starting with a newline byte
# (a flags value of 10), which Assimp 5.2 misreads.
hdr = ("ply\nformat binary_big_endian 1.0\nelement vertex 4\nproperty uchar flags\n"
       "property float x\nproperty float y\n"
       "property float z\nproperty float nx\nproperty float ny\nproperty float nz\n"
       "element face 1\nproperty list uchar int vertex_indices\nend_header\n")
square = [(0, 0, 0), (1, 0, 0), (1, 1, 0), (0, 1, 0)]
body = b''.join(struct.pack('>B6f', 10, *p, 0, 0, 2) for p in square) + struct.pack('>B4i', 4, 0, 1, 2, 3)
w('big_endian.ply', hdr.encode() + body)
w('truncated_big_endian.ply', hdr.encode() + body[:-6])
# STL, binary: one facet with a wrong facet normal (the file's normals are not used).
w('triangle.stl', b'made by hand'.ljust(80, b' ') + struct.pack('<I', 1) +
  struct.pack('<12fH', 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0))
# glTF 2: a triangle moved by its node to z = 5, the buffer embedded, in a .glb, or beside.
binary = struct.pack('<9f', 0, 0, 0, 1, 0, 0, 0, 1, 0) + struct.pack('<3H', 0, 1, 2) + b'\0\0'
def gltf(uri):
    buf = {"byteLength": 42}
    if uri is not None: buf["uri"] = uri
    return {"asset": {"version": "2.0"}, "buffers": [buf],
        "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36},
                        {"buffer": 0, "byteOffset": 36, "byteLength": 6}],
        "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                       "min": [0, 0, 0], "max": [1, 1, 0]},
                      {"bufferView": 1, "componentType": 5123, "count": 3, "type": "SCALAR"}],
        "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "indices": 1}]}],
        "nodes": [{"mesh": 0, "translation": [0, 0, 5]}], "scenes": [{"nodes": [0]}], "scene": 0}
w('triangle.gltf', json.dumps(gltf("data:application/octet-stream;base64," + base64.b64encode(binary[:42]).decode())))
w('beside.gltf', json.dumps(gltf("beside.bin")))
w('beside.bin', binary[:42])
j = json.dumps(gltf(None)).encode(); j += b' ' * (-len(j) % 4)
glb = struct.pack('<I4s', len(j), b'JSON') + j + struct.pack('<I4s', len(binary), b'BIN\0') + binary
w('triangle.glb', struct.pack('<4sII', b'glTF', 2, 12 + len(glb)) + glb)
# gzip: the concave OBJ in two concatenated members, and the big-endian PLY.
obj = open(os.path.join(D, 'concave.obj'), 'rb').read()
half = len(obj) // 2
w('concave.obj.gz', gzip.compress(obj[:half], mtime=0) + gzip.compress(obj[half:], mtime=0))
w('big_endian.ply.gz', gzip.compress(open(os.path.join(D, 'big_endian.ply'), 'rb').read(), mtime=0))
# The command line's rows: a ball (an icosahedron split once, 80 faces) to
# frame at any accepted size; a tetrahedron far too large and one far too
# small to render; faces without area; a glTF that is not one; a binary
# STL whose header counts five facets but which holds one.
phi = (1 + 5 ** 0.5) / 2
ico = [(-1, phi, 0), (1, phi, 0), (-1, -phi, 0), (1, -phi, 0), (0, -1, phi), (0, 1, phi),
       (0, -1, -phi), (0, 1, -phi), (phi, 0, -1), (phi, 0, 1), (-phi, 0, -1), (-phi, 0, 1)]
faces = [(0, 11, 5), (0, 5, 1), (0, 1, 7), (0, 7, 10), (0, 10, 11), (1, 5, 9), (5, 11, 4),
         (11, 10, 2), (10, 7, 6), (7, 1, 8), (3, 9, 4), (3, 4, 2), (3, 2, 6), (3, 6, 8),
         (3, 8, 9), (4, 9, 5), (2, 4, 11), (6, 2, 10), (8, 6, 7), (9, 8, 1)]
points = [tuple(c / sum(x * x for x in p) ** 0.5 for c in p) for p in ico]
middle = {}
def mid(a, b):
    key = (min(a, b), max(a, b))
    if key not in middle:
        m = [(points[a][k] + points[b][k]) / 2 for k in range(3)]
        points.append(tuple(c / sum(x * x for x in m) ** 0.5 for c in m))
        middle[key] = len(points) - 1
    return middle[key]
split = []
for a, b, c in faces:
    ab, bc, ca = mid(a, b), mid(b, c), mid(c, a)
    split += [(a, ab, ca), (b, bc, ab), (c, ca, bc), (ab, bc, ca)]
w('ball.obj', ''.join('v %.6f %.6f %.6f\n' % p for p in points) +
  ''.join('f %d %d %d\n' % (a + 1, b + 1, c + 1) for a, b, c in split))
tetra = "v {0} {0} {0}\nv -{0} -{0} {0}\nv -{0} {0} -{0}\nv {0} -{0} -{0}\nf 1 2 3\nf 1 4 2\nf 1 3 4\nf 2 4 3\n"
w('huge.obj', tetra.format('1e19'))
w('tiny.obj', tetra.format('1e-12'))
w('no_area.obj', "# every face on one line or one point\nv 0 0 0\nv 1 0 0\nv 2 0 0\nv 3 0 0\n"
  "f 1 2 3\nf 2 4 3\nf 1 1 1\n")
w('not_gltf.gltf', "this is not a glTF file\n")
w('cut.stl', b'cut short'.ljust(80, b' ') + struct.pack('<I', 5) +
  struct.pack('<12fH', 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0))
# glTF 2 with TEXCOORD_0, stored with v running down the image as glTF has it.
uv_binary = (struct.pack('<9f', 0, 0, 0, 1, 0, 0, 0, 1, 0) +
             struct.pack('<6f', 0.25, 0.125, 0.5, 0.25, 0.75, 1.0) + struct.pack('<3H', 0, 1, 2) + b'\0\0')
w('uv_triangle.gltf', json.dumps({"asset": {"version": "2.0"},
    "buffers": [{"byteLength": 68, "uri": "data:application/octet-stream;base64," + base64.b64encode(uv_binary).decode()}],
    "bufferViews": [{"buffer": 0, "byteOffset": 0, "byteLength": 36},
                    {"buffer": 0, "byteOffset": 36, "byteLength": 24},
                    {"buffer": 0, "byteOffset": 60, "byteLength": 6}],
    "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                   "min": [0, 0, 0], "max": [1, 1, 0]},
                  {"bufferView": 1, "componentType": 5126, "count": 3, "type": "VEC2"},
                  {"bufferView": 2, "componentType": 5123, "count": 3, "type": "SCALAR"}],
    "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1}, "indices": 2}]}],
    "nodes": [{"mesh": 0}], "scenes": [{"nodes": [0]}], "scene": 0}))
# OBJ squares with texture coordinates for the bake's command-line tests: one
# island in tile 1001 and one in 1022; coordinates past 0-1 (without UDIM);
# a NaN coordinate (PLY: Assimp's OBJ reader takes 'nan' for 0); a triangle
# whose texture coordinates lie on one line.
square_v = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
w('uv_udim.obj', square_v + "v 2 0 0\nv 3 0 0\nv 3 1 0\nv 2 1 0\n"
  "vt 0.1 0.1\nvt 0.9 0.1\nvt 0.9 0.9\nvt 0.1 0.9\n"
  "vt 1.1 2.1\nvt 1.9 2.1\nvt 1.9 2.9\nvt 1.1 2.9\n"
  "f 1/1 2/2 3/3 4/4\nf 5/5 6/6 7/7 8/8\n")
# Two quads over one stretch of texture space: half the first one's texels
# lie under the second as well.
w('uv_overlap.obj', square_v + "v 2 0 0\nv 3 0 0\nv 3 1 0\nv 2 1 0\n"
  "vt 0.1 0.1\nvt 0.9 0.1\nvt 0.9 0.9\nvt 0.1 0.9\nvt 0.5 0.1\nvt 0.5 0.9\n"
  "f 1/1 2/2 3/3 4/4\nf 5/5 6/2 7/3 8/6\n")
w('uv_beyond.obj', square_v + "vt 0 0\nvt 1.5 0\nvt 1.5 1\nvt 0 1\nf 1/1 2/2 3/3 4/4\n")
w('uv_nan.ply', "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
  "property float z\nproperty float s\nproperty float t\nelement face 1\n"
  "property list uchar int vertex_indices\nend_header\n0 0 0 0 0\n1 0 0 1 0\n0 1 0 nan 1\n3 0 1 2\n")
w('uv_flat.obj', square_v + "vt 0 0\nvt 0.5 0.5\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n")
# A PNG cut off inside its image data: libpng's own handler would print a
# line of its own beside the tool's.
import zlib
def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
pixels = zlib.compress(b''.join(b'\0' + bytes([x * 16, 128, 255 - x * 16]) * 16 for x in range(16)))
png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 16, 16, 8, 2, 0, 0, 0)) +
       chunk(b'IDAT', pixels) + chunk(b'IEND', b''))
w('broken.png', png[:len(png) // 2])
