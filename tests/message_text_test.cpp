// The text a message forwarder hands the renderer: bounded, cut cleanly, and
// with every percent sign doubled so that the renderer prints it literally.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "hostbind/message_text.h"

namespace {

// The out buffer with guard bytes behind it, to catch a write past its end.
struct Guarded {
    char out[bl::message_capacity];
    char guard[32];
};

std::string format(Guarded& g, const char* fmt, ...) {
    std::memset(g.guard, 0x5a, sizeof g.guard);
    va_list args;
    va_start(args, fmt);
    const size_t length = bl::format_message(g.out, fmt, args);
    va_end(args);
    for (char c : g.guard) {
        EXPECT_EQ(c, 0x5a) << "written past the message buffer";
    }
    EXPECT_EQ(std::strlen(g.out), length);
    return std::string(g.out, length);
}

// What the renderer prints for a format with no arguments behind it.
std::string as_the_renderer_prints(const std::string& text) {
    std::string printed;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            // Anything but a doubled sign would be a conversion with no argument.
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '%') << "lone % at " << i;
            ++i;
        }
        printed += text[i];
    }
    return printed;
}

TEST(MessageText, FormatsLikeVsprintf) {
    Guarded g;
    EXPECT_EQ(format(g, "frame %d of %s: %.2f", 3, "shot", 0.5), "frame 3 of shot: 0.50");
    EXPECT_EQ(format(g, ""), "");
    EXPECT_EQ(format(g, nullptr), "");
}

TEST(MessageText, PercentSignsReachTheRendererLiterally) {
    Guarded g;
    const std::string text = format(g, "100%% of %s", "50% off %d");
    EXPECT_EQ(text, "100%% of 50%% off %%d");
    EXPECT_EQ(as_the_renderer_prints(text), "100% of 50% off %d");
    EXPECT_EQ(format(g, "%s", "%%"), "%%%%");
}

TEST(MessageText, AMessageOf1023CharactersFits) {
    Guarded g;
    const std::string text(1023, 'x');
    EXPECT_EQ(format(g, "%s", text.c_str()), text);
}

TEST(MessageText, ALongerMessageIsCutAt1023Characters) {
    Guarded g;
    for (size_t n : {1024u, 1025u, 5000u}) {
        const std::string text(n, 'y');
        EXPECT_EQ(format(g, "%s", text.c_str()), text.substr(0, 1023)) << n;
    }
    // The cut applies to the text as the format produces it, too.
    EXPECT_EQ(format(g, "%2000d", 7).size(), 1023u);
}

TEST(MessageText, ACutNeverSplitsADoubledPercentSign) {
    Guarded g;
    // 1021 characters and a percent sign: the pair just fits.
    EXPECT_EQ(format(g, "%s%%", std::string(1021, 'a').c_str()), std::string(1021, 'a') + "%%");
    // 1022 and a percent sign: no room for the pair, so it is left out whole.
    EXPECT_EQ(format(g, "%s%%", std::string(1022, 'a').c_str()), std::string(1022, 'a'));
    // Nothing but percent signs: 511 whole pairs.
    EXPECT_EQ(format(g, "%s", std::string(2000, '%').c_str()), std::string(1022, '%'));
}

TEST(MessageText, TextStopsAtAnEmbeddedNul) {
    Guarded g;
    EXPECT_EQ(format(g, "ab%cde", 0), "ab");
}

TEST(MessageText, AnyTextComesOutBoundedAndLiteral) {
    std::mt19937 rng(5);
    const char alphabet[] = "%%%ab d\n";
    for (int round = 0; round < 2000; ++round) {
        std::string text(std::uniform_int_distribution<size_t>(0, 1600)(rng), ' ');
        for (char& c : text) {
            c = alphabet[std::uniform_int_distribution<size_t>(0, sizeof alphabet - 2)(rng)];
        }
        Guarded g;
        const std::string out = format(g, "%s", text.c_str());
        ASSERT_LE(out.size(), 1023u);
        const std::string printed = as_the_renderer_prints(out);
        ASSERT_EQ(printed, text.substr(0, printed.size()));
        // Only what did not fit is lost.
        ASSERT_TRUE(printed.size() == text.size() || out.size() >= 1022) << out.size();
    }
}

} // namespace
