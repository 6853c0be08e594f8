#include "hostbind/message_text.h"

#include <cstdio>

namespace bl {

size_t escape_percent_signs(char (&out)[message_capacity], const char* text, size_t length) {
    size_t used = 0;
    for (size_t i = 0; i < length && text[i] != '\0'; ++i) {
        const bool percent = text[i] == '%';
        // A percent sign needs room for its pair, or it is left out whole.
        if (used + (percent ? 2 : 1) > message_capacity - 1) {
            break;
        }
        out[used++] = text[i];
        if (percent) {
            out[used++] = '%';
        }
    }
    out[used] = '\0';
    return used;
}

size_t format_message(char (&out)[message_capacity], const char* format, va_list args) {
    if (format == nullptr) {
        out[0] = '\0';
        return 0;
    }
    // Bounded: text beyond the buffer is cut, never written past it.
    char formatted[message_capacity];
    const int produced = std::vsnprintf(formatted, sizeof formatted, format, args);
    if (produced < 0) {
        out[0] = '\0';
        return 0;
    }
    const size_t length = static_cast<size_t>(produced) < message_capacity
                              ? static_cast<size_t>(produced)
                              : message_capacity - 1;
    return escape_percent_signs(out, formatted, length);
}

} // namespace bl
