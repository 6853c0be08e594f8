// Checks made on a glTF file before Assimp 5.2 (Debian 12's) reads it, for
// inputs its glTF readers handle unsafely; each was found by fuzzing.
#pragma once

#include <cstddef>
#include <string>

namespace preview {

// For format "gltf" (JSON text) or "glb" (the binary container): false, with
// a one-line reason, when the file
// - is a binary container declaring a part longer than the file (Assimp
//   allocates and zeroes what is declared before reading it: a file of a
//   few hundred bytes could take 4 GiB);
// - holds a data URI whose header (what precedes its comma) runs past 126
//   bytes (Assimp keeps offsets into the URI in a signed char, so a longer
//   header points its reads before the string);
// - holds a string starting with the byte 0x10 (Assimp's mark for a URI it
//   has already taken apart, whose offsets it would then read from the
//   string itself).
// Every valid glTF exporter's output passes.
bool check_gltf_for_assimp(const std::string& format, const char* data, size_t size,
                           std::string& error);

} // namespace preview
