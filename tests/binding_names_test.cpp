// The list of forwarded renderer functions: complete, each name once, each
// of the right kind.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

struct Name {
    std::string name;
    std::string kind;
};

const std::vector<Name> names = {
#define BL_NAME(name, kind) {#name, #kind},
#include "hostbind/names.def"
#undef BL_NAME
};

std::set<std::string> of_kind(const std::string& kind) {
    std::set<std::string> out;
    for (const Name& n : names) {
        if (n.kind == kind) {
            out.insert(n.name);
        }
    }
    return out;
}

TEST(BindingNames, EveryGroupHasItsCount) {
    EXPECT_EQ(names.size(), 691u);
    EXPECT_EQ(of_kind("plain").size(), 676u);
    EXPECT_EQ(
        of_kind("message"),
        (std::set<std::string>{"mi_vdebug", "mi_debug", "mi_progress", "mi_info", "mi_warning",
                               "mi_error", "mi_fatal", "mi_api_warning", "mi_api_error"}));
    EXPECT_EQ(of_kind("numbered"),
              (std::set<std::string>{"mi_nwarning", "mi_nerror", "mi_nfatal"}));
    EXPECT_EQ(of_kind("code"),
              (std::set<std::string>{"mi_query", "mi_scene_create", "mi_scene_recreate"}));
}

TEST(BindingNames, NoNameRepeats) {
    std::set<std::string> seen;
    for (const Name& n : names) {
        EXPECT_TRUE(seen.insert(n.name).second) << n.name;
    }
}

TEST(BindingNames, NamesByLeadingWord) {
    // The groups of the renderer's interface that hold five names or more.
    const std::vector<std::pair<std::string, size_t>> groups = {
        {"mi_api_", 263},      {"mi_img_", 43},          {"mi_spectrum_", 38},  {"mi_mem_", 26},
        {"mi_scene_", 23},     {"mi_db_", 14},           {"mi_geoshader_", 11}, {"mi_rbtree_", 11},
        {"mi_trace_", 11},     {"mi_colorprofile_", 10}, {"mi_point_", 10},     {"mi_vector_", 10},
        {"mi_call_", 9},       {"mi_geomo_", 9},         {"mi_matrix_", 9},     {"mi_photon_", 9},
        {"mi_kdtree_", 8},     {"mi_lookup_", 8},        {"mi_normal_", 8},     {"mi_phen_", 8},
        {"mi_reflection_", 8}, {"mi_transmission_", 7},  {"mi_link_", 6},       {"mi_noise_", 6},
        {"mi_renderpass_", 6}, {"mi_unoise_", 6},        {"mi_compute_", 5},    {"mi_par_", 5},
        {"mi_volume_", 5}};
    size_t grouped = 0;
    for (const auto& [prefix, count] : groups) {
        const auto n = std::count_if(names.begin(), names.end(), [&](const Name& x) {
            return x.name.compare(0, prefix.size(), prefix) == 0;
        });
        EXPECT_EQ(size_t(n), count) << prefix;
        grouped += count;
    }
    EXPECT_EQ(names.size() - grouped, 99u);
    for (const Name& n : names) {
        EXPECT_EQ(n.name.compare(0, 3, "mi_"), 0) << n.name;
    }
}

TEST(BindingNames, TheShadersOwnCallsArePlain) {
    const std::set<std::string> plain = of_kind("plain");
    for (const char* called :
         {"mi_phen_eval", "mi_tri_vectors", "mi_sample", "mi_trace_probe", "mi_spline"}) {
        EXPECT_EQ(plain.count(called), 1u) << called;
    }
}

} // namespace
