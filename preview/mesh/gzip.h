// gzip-compressed mesh files (name.obj.gz and so on), decompressed in
// memory with zlib before the mesh is parsed.
#pragma once

#include <cstddef>
#include <string>

namespace preview {

// Decompresses gzip data (one member, or several concatenated as `cat a.gz
// b.gz` makes them) into text. Truncated or corrupt data, or more than
// 2 GiB of text, gives false and a one-line reason starting "gzip: ".
bool gunzip(const char* data, size_t size, std::string& text, std::string& error);

} // namespace preview
