// The text a message forwarder hands the renderer: the caller's format and
// arguments, formatted, then made safe to pass on as a format of its own.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace bl {

// The renderer's message buffer: the text and its terminating NUL.
constexpr size_t message_capacity = 1024;

// Formats format and args (as vsnprintf does) into out, cut to at most
// message_capacity - 1 characters and always NUL-terminated. Every percent
// sign of the formatted text is doubled, because the renderer treats the
// finished text as a format with no arguments behind it; a cut never splits
// such a pair. A null format gives the empty text. Returns the length.
size_t format_message(char (&out)[message_capacity], const char* format, va_list args);

// The second half of format_message: copies text (length characters, or up to
// an embedded NUL) into out, doubling each percent sign, cut as above.
size_t escape_percent_signs(char (&out)[message_capacity], const char* text, size_t length);

} // namespace bl
