#include "preview/mesh/gltf_guard.h"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace preview {
namespace {

bool fail(std::string& error, std::string message) {
    error = std::move(message);
    return false;
}

uint32_t little_endian_u32(const char* at) {
    const auto* b = reinterpret_cast<const unsigned char*>(at);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint64_t padded_to_4(uint64_t length) {
    return (length + 3) & ~uint64_t(3);
}

// The binary container: version 1 has a 20-byte header (magic, version,
// total length, scene length, scene format), the scene, then the body up to
// the total length; version 2 a 12-byte header (magic, version, total
// length), then chunks, each an 8-byte header (length, type) and its data
// padded to 4 bytes, the first of them the JSON. Sets json to the JSON text
// where the container has one whole. Other versions, or a file without the
// magic, are left to Assimp, which refuses them.
bool check_container(const char* data, size_t size, std::string_view& json, std::string& error) {
    if (size < 12 || std::memcmp(data, "glTF", 4) != 0) {
        return true;
    }
    const char* const too_long = "glTF: a part of the binary file is declared longer than the file";
    const uint32_t version = little_endian_u32(data + 4);
    if (version == 1 && size >= 20) {
        const uint64_t declared = little_endian_u32(data + 8);
        const uint64_t scene = little_endian_u32(data + 12);
        if (declared > size || padded_to_4(20 + scene) > declared) {
            return fail(error, too_long);
        }
        json = std::string_view(data + 20, size_t(scene));
    } else if (version == 2) {
        for (uint64_t at = 12; at + 8 <= size;
             at += 8 + padded_to_4(little_endian_u32(data + at))) {
            const uint64_t length = little_endian_u32(data + at);
            if (length > size - at - 8) {
                return fail(error, too_long);
            }
            if (at == 12) {
                json = std::string_view(data + 20, size_t(length));
            }
        }
    }
    return true;
}

// One JSON string's escape at text[k] (the backslash): the character it
// stands for (0x80 for any beyond ASCII), and at most how many bytes it
// decodes to. Advances k to the escape's last character.
char unescape(std::string_view text, size_t& k, size_t& bytes) {
    bytes = 1;
    if (++k >= text.size()) {
        return '\\';
    }
    switch (text[k]) {
    case 'u': {
        uint32_t code = 0;
        for (int digit = 0; digit < 4 && k + 1 < text.size(); ++digit) {
            const char h = text[++k];
            const uint32_t value = h >= '0' && h <= '9'   ? uint32_t(h - '0')
                                   : h >= 'a' && h <= 'f' ? uint32_t(h - 'a' + 10)
                                   : h >= 'A' && h <= 'F' ? uint32_t(h - 'A' + 10)
                                                          : 0;
            code = code * 16 + value;
        }
        bytes = code < 0x80 ? 1 : 3; // a surrogate pair's two halves: 6 for 4
        return code < 0x80 ? char(code) : char(0x80);
    }
    case 'n':
        return '\n';
    case 't':
        return '\t';
    case 'r':
        return '\r';
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    default:
        return text[k]; // \" \\ \/
    }
}

// Walks the strings of the JSON text. A text that is not valid JSON may be
// misread here, but then Assimp's parser refuses it before using any string.
bool check_json_strings(std::string_view json, std::string& error) {
    constexpr size_t largest_uri_header = 126; // the comma's index, at most
    for (size_t at = 0; at < json.size(); ++at) {
        if (json[at] != '"') {
            continue;
        }
        std::string head;        // the first five characters, unescaped
        size_t length = 0;       // bytes unescaped so far, never fewer than the real count
        size_t comma = SIZE_MAX; // where the first comma is unescaped, at most
        size_t k = at + 1;
        for (; k < json.size() && json[k] != '"'; ++k) {
            size_t bytes = 1;
            const char c = json[k] == '\\' ? unescape(json, k, bytes) : json[k];
            if (head.size() < 5) {
                head += c;
            }
            if (c == ',' && comma == SIZE_MAX) {
                comma = length;
            }
            length += bytes;
        }
        if (!head.empty() && head[0] == '\x10') {
            return fail(error, "glTF: a string starts with the control character 0x10");
        }
        if (head == "data:" && comma != SIZE_MAX && comma > largest_uri_header) {
            return fail(error, "glTF: a data URI's header is longer than 126 bytes");
        }
        at = k;
    }
    return true;
}

} // namespace

bool check_gltf_for_assimp(const std::string& format, const char* data, size_t size,
                           std::string& error) {
    std::string_view json(data, size);
    if (format == "glb") {
        json = {};
        if (!check_container(data, size, json, error)) {
            return false;
        }
    }
    return check_json_strings(json, error);
}

} // namespace preview
