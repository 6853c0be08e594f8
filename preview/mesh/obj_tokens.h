// The tokens of a plain OBJ line, read as Assimp 5.2 reads them (see
// plain_obj.h): numbers with the arithmetic of its own number reader, and
// face indices in the spellings its reader steps over correctly.
#pragma once

#include <cstring>

namespace preview {
namespace obj {

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

inline bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Where a token ends: a blank or the end of the line's content.
inline bool at_token_end(const char* p, const char* end) {
    return p == end || is_blank(*p);
}

// The next line from p: its content (without the newline, and without a
// carriage return just before it) ends at content_end, and the next line
// starts at next.
inline void next_line(const char* p, const char* end, const char*& content_end, const char*& next) {
    const char* newline = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
    if (newline == nullptr) {
        content_end = next = end;
        return;
    }
    next = newline + 1;
    content_end = newline > p && newline[-1] == '\r' ? newline - 1 : newline;
}

inline void skip_blanks(const char*& p, const char* end) {
    while (p < end && is_blank(*p)) {
        ++p;
    }
}

// Reads a number at p, advancing p past it (see obj_tokens.cpp); false if
// it is not spelt as Assimp is sure to read it as the reader below does.
bool read_number(const char*& p, const char* end, float& out);

// Reads a face index at p, advancing p past it; false for a spelling Assimp
// steps over wrongly.
bool read_index(const char*& p, const char* end, long long& out);

} // namespace obj
} // namespace preview
