// The message forwarders' text: arbitrary bytes handed over as an argument
// (never as the format), or straight to the percent-doubling step.
//
// Checked on every input, aborting on a violation:
// - the text fits the renderer's buffer with its NUL, and the returned
//   length is where the NUL stands;
// - every percent sign stands in a doubled pair, so the renderer prints it
//   literally;
// - with the pairs undone, the text is the start of what was handed over
//   (a cut loses only the end, never a middle or half a pair), and all of it
//   when it fits.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostbind/message_text.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "fuzz_message_text: %s\n", what);
        std::abort();
    }
}

size_t format(char (&out)[bl::message_capacity], const char* format, ...) {
    va_list args;
    va_start(args, format);
    const size_t length = bl::format_message(out, format, args);
    va_end(args);
    return length;
}

void check_text(const char (&out)[bl::message_capacity], size_t length, const std::string& given) {
    check(length < bl::message_capacity, "text longer than the buffer allows");
    check(out[length] == '\0', "no NUL at the returned length");
    check(std::strlen(out) == length, "NUL before the returned length");
    std::string undone;
    for (size_t i = 0; i < length; ++i) {
        if (out[i] == '%') {
            check(i + 1 < length && out[i + 1] == '%',
                  "a single percent sign reached the renderer");
            ++i;
        }
        undone += out[i];
    }
    check(given.compare(0, undone.size(), undone) == 0, "text is not the start of what was given");
    // Whatever was left out would not have fit: the next character, doubled
    // if it is a percent sign, must overflow the buffer.
    if (undone.size() < given.size()) {
        const size_t next = given[undone.size()] == '%' ? 2 : 1;
        check(length + next > bl::message_capacity - 1, "text cut although it fits");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const uint8_t mode = data[0];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    // As a "%s" argument the text ends at its first NUL.
    const std::string text = bytes.substr(0, bytes.find('\0'));

    char out[bl::message_capacity];
    std::memset(out, 0x5a, sizeof out);
    switch (mode % 3) {
    case 0:
        check_text(out, format(out, "%s", text.c_str()), text);
        break;
    case 1: {
        // Text around the argument, which the formatting itself produced.
        const std::string expected = "[" + text + "] 42%";
        check_text(out, format(out, "[%s] %d%%", text.c_str(), 42), expected);
        break;
    }
    default:
        check_text(out, bl::escape_percent_signs(out, bytes.data(), bytes.size()), text);
        break;
    }
    return 0;
}
