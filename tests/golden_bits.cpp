// Prints the result bits of the golden shading cases, one line per case and
// renderer variant, so that two builds (64-bit and 32-bit) can be compared;
// with --compare, compares two such listings.
//
//   bendlens_golden [CASES] > bits.txt     (CASES defaults to the standard set)
//   bendlens_golden --compare bits64.txt bits32.txt
//
// Methods 0 and out-of-range ones use only +, -, *, / and sqrt, which round
// identically on every IEEE build, so they must match to the bit. Methods 1
// and 2 also call acos, cos and sin, which a different maths library may round
// differently; for them one ulp is tolerated and counted.
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "shader/shade.h"
#include "tests/golden_cases.h"

namespace {

void print_listing(int cases) {
    for (int index = 0; index < cases; ++index) {
        for (Platform platform : {Platform::windows, Platform::macos}) {
            const golden::Codes codes = golden::codes_of(index);
            const golden::Outcome out = golden::shade_case(index, platform, bl::shade);
            std::printf("%d %d %d %d %d %d %08" PRIx32 " %08" PRIx32 " %08" PRIx32 " %08" PRIx32
                        "\n",
                        index, int(platform), codes.method, codes.measure, codes.mapping,
                        codes.use_contrast, out.r, out.g, out.b, out.a);
        }
    }
}

struct Line {
    std::string key; // index, variant and codes
    int method = 0;
    uint32_t channel[4] = {};
};

bool parse(const std::string& text, Line& line) {
    std::istringstream in(text);
    int index, platform, measure, mapping, contrast;
    if (!(in >> index >> platform >> line.method >> measure >> mapping >> contrast)) {
        return false;
    }
    line.key = text.substr(0, text.size() - 4 * 9);
    for (uint32_t& c : line.channel) {
        std::string hex;
        if (!(in >> hex)) {
            return false;
        }
        c = uint32_t(std::strtoul(hex.c_str(), nullptr, 16));
    }
    return true;
}

// Distance in units of the last place between two floats given as bits; NaNs
// and values of opposite sign count as far apart unless the bits agree.
uint32_t ulps(uint32_t a, uint32_t b) {
    if (a == b) {
        return 0;
    }
    const bool nan_a = (a & 0x7fffffffu) > 0x7f800000u;
    const bool nan_b = (b & 0x7fffffffu) > 0x7f800000u;
    if (nan_a || nan_b || (a >> 31) != (b >> 31)) {
        return UINT32_MAX;
    }
    return a > b ? a - b : b - a;
}

int compare(const char* first, const char* second) {
    std::ifstream a(first), b(second);
    if (!a || !b) {
        std::fprintf(stderr, "golden: cannot read %s or %s\n", first, second);
        return 2;
    }
    long total = 0, identical = 0, one_ulp = 0, failed = 0;
    std::string ta, tb;
    while (true) {
        const bool more_a = bool(std::getline(a, ta));
        const bool more_b = bool(std::getline(b, tb));
        if (!more_a && !more_b) {
            break;
        }
        Line la, lb;
        if (more_a != more_b || !parse(ta, la) || !parse(tb, lb) || la.key != lb.key) {
            std::fprintf(stderr, "golden: listings differ in shape at line %ld\n", total + 1);
            return 1;
        }
        ++total;
        uint32_t worst = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t d = ulps(la.channel[k], lb.channel[k]);
            worst = d > worst ? d : worst;
        }
        const bool uses_libm = la.method == 1 || la.method == 2;
        if (worst == 0) {
            ++identical;
        } else if (worst == 1 && uses_libm && la.channel[3] == lb.channel[3]) {
            ++one_ulp;
        } else {
            ++failed;
            std::fprintf(stderr, "golden: differs\n  %s\n  %s\n", ta.c_str(), tb.c_str());
        }
    }
    std::printf("golden: %ld results, %ld identical, %ld one ulp apart (methods 1 and 2), "
                "%ld different\n",
                total, identical, one_ulp, failed);
    return failed == 0 && total > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--compare") {
        return compare(argv[2], argv[3]);
    }
    int cases = golden::case_count;
    if (argc == 2) {
        cases = std::atoi(argv[1]);
    }
    if (argc > 2 || cases <= 0) {
        std::fprintf(stderr, "usage: %s [CASES] | --compare LISTING LISTING\n", argv[0]);
        return 2;
    }
    print_listing(cases);
    return 0;
}
