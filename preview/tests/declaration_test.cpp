// bendlens.mi as the renderer and its host applications read it, held against
// the parameter block the shader reads, the parameter table of
// docs/parameters.md and the defaults the preview host starts from: a
// parameter renamed, moved, retyped or given another default in one place and
// not the others, a label or a choice that says something else than the
// table, or a hint that names no parameter, fails here.
#include <gtest/gtest.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <type_traits>

#include "declaration_reader.h"
#include "preview/app/options.h"
#include "shader/parameters.h"

namespace {

std::string slurp(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string lower(std::string s) {
    for (char& c : s) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// One field of the parameter block, as the compiler lays it out.
struct Field {
    const char* name;
    size_t offset;
    size_t size;
    bool is_float;
};
#define BLOCK_FIELD(f)                                                                             \
    Field {                                                                                        \
#f, offsetof(BendlensParameters, f), sizeof(BendlensParameters::f),                        \
            std::is_same < decltype(BendlensParameters::f), float> ::value                         \
    }
const Field block[] = {BLOCK_FIELD(method),     BLOCK_FIELD(measure),      BLOCK_FIELD(mapping),
                       BLOCK_FIELD(range_max),  BLOCK_FIELD(range_min),    BLOCK_FIELD(threshold),
                       BLOCK_FIELD(contrast),   BLOCK_FIELD(use_contrast), BLOCK_FIELD(samples),
                       BLOCK_FIELD(probe_scale)};

double field_value(const BendlensParameters& p, const Field& f) {
    const char* at = reinterpret_cast<const char*>(&p) + f.offset;
    if (f.is_float) {
        float value;
        std::memcpy(&value, at, sizeof value);
        return value;
    }
    int32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// The choices the shader defines for its three selectors (any other value
// selects nothing).
const std::map<std::string, int> choice_count = {{"method", 3}, {"measure", 3}, {"mapping", 3}};

// A row of the parameter table: # | name | label | type | default | meaning.
struct Row {
    std::string name, label, type, default_text, meaning;
};

std::vector<Row> table_parameters(const std::string& page) {
    std::vector<Row> rows;
    std::istringstream in(page.substr(page.find("\n| # | name |") + 1));
    std::string line;
    bool in_table = false;
    while (std::getline(in, line) && (!in_table || line.rfind("|", 0) == 0)) {
        in_table = line.rfind("|", 0) == 0;
        if (!in_table || line.rfind("| #", 0) == 0 || line.rfind("|---", 0) == 0) {
            continue;
        }
        std::vector<std::string> cells;
        std::istringstream row(line.substr(1));
        std::string cell;
        while (std::getline(row, cell, '|')) {
            const size_t first = cell.find_first_not_of(" `");
            const size_t last = cell.find_last_not_of(" `");
            cells.push_back(first == std::string::npos ? "" : cell.substr(first, last - first + 1));
        }
        if (cells.size() == 6) {
            rows.push_back({cells[1], cells[2], cells[3], cells[4], cells[5]});
        }
    }
    return rows;
}

double as_number(const std::string& text) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return *end == '\0' && !text.empty() ? value : -12345.0;
}

// A default as the table writes it: a number, on or off.
double table_default(const std::string& text) {
    return text == "on" ? 1.0 : text == "off" ? 0.0 : as_number(text);
}

// "0 Mean,1 Gaussian" into {0, "Mean"}, {1, "Gaussian"}; a key -1 marks an
// entry without one.
std::vector<std::pair<int, std::string>> enumeration(const std::string& list) {
    std::vector<std::pair<int, std::string>> entries;
    std::istringstream in(list);
    std::string entry;
    while (std::getline(in, entry, ',')) {
        char* end = nullptr;
        const long key = std::strtol(entry.c_str(), &end, 10);
        const bool keyed = end != entry.c_str() && *end == ' ';
        entries.push_back({keyed ? int(key) : -1, keyed ? std::string(end + 1) : entry});
    }
    return entries;
}

TEST(Declaration, AgreesWithTheBlockTheReadmeAndThePreview) {
    const std::string text = slurp(BENDLENS_DECLARATION);
    declaration::Declaration d;
    std::string error;
    ASSERT_TRUE(declaration::read(text, d, error)) << error;
    EXPECT_EQ(d.shader, "bendlens");
    EXPECT_EQ(d.result_type, "color");
    EXPECT_EQ(d.version, 1); // what bendlens_version returns
    EXPECT_EQ(d.gui, "gui_bendlens");
    // Maya keeps ids 0 to 0x7FFFF for nodes used only inside one site.
    EXPECT_GE(d.nodeid, 0);
    EXPECT_LE(d.nodeid, 0x7FFFF);

    static_assert(sizeof(BendlensParameters) == sizeof block / sizeof block[0] * 4,
                  "the table above lists every field");
    const std::vector<Row> rows = table_parameters(slurp(BENDLENS_PARAMETERS));
    ASSERT_EQ(d.parameters.size(), 10u);
    ASSERT_EQ(rows.size(), 10u);
    const preview::Options preview;
    std::set<std::string> names, shortnames;

    for (size_t k = 0; k < d.parameters.size(); ++k) {
        const declaration::Parameter& p = d.parameters[k];
        SCOPED_TRACE(p.name);
        names.insert(p.name);

        // The parameter block: same name at the same place, 4 bytes, a float
        // for a scalar and an int32 for an integer or a boolean.
        EXPECT_EQ(p.name, block[k].name);
        EXPECT_EQ(block[k].offset, 4 * k);
        EXPECT_EQ(block[k].size, 4u);
        EXPECT_EQ(p.type == "scalar", block[k].is_float);

        // One default in the declaration, the table and the preview host.
        ASSERT_TRUE(p.has_default);
        EXPECT_EQ(rows[k].name, p.name);
        EXPECT_EQ(rows[k].type, p.type);
        EXPECT_EQ(table_default(rows[k].default_text), p.default_value) << rows[k].default_text;
        EXPECT_EQ(field_value(preview.params, block[k]), p.default_value);

        // Maya's keyword hints: the same default, within the ranges, the
        // soft range within the hard one, a short name of its own.
        ASSERT_EQ(p.hints.count("default"), 1u);
        EXPECT_EQ(p.hints.at("default"), p.default_value);
        const auto hint = [&p](const char* key, double otherwise) {
            return p.hints.count(key) ? p.hints.at(key) : otherwise;
        };
        EXPECT_LE(hint("min", -1e30), hint("softmin", hint("min", -1e30)));
        EXPECT_LE(hint("softmin", -1e30), p.default_value);
        EXPECT_LE(p.default_value, hint("softmax", 1e30));
        EXPECT_LE(hint("softmax", hint("max", 1e30)), hint("max", 1e30));
        EXPECT_TRUE(shortnames.insert(p.shortname).second && !p.shortname.empty()) << p.shortname;

        // The gui block: one control, in a panel, labelled as in the table,
        // its value and range those of the keyword hints.
        const declaration::Control* control = nullptr;
        for (const declaration::Control& c : d.controls) {
            if (c.name == p.name) {
                EXPECT_EQ(control, nullptr) << "a second control";
                control = &c;
            }
        }
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->type, p.type);
        EXPECT_FALSE(control->panel.empty());
        ASSERT_NE(control->find("uiName"), nullptr);
        EXPECT_EQ(control->find("uiName")->at(0), rows[k].label);
        const auto* range = control->find("range");
        if (range) {
            ASSERT_EQ(range->size(), 2u);
            EXPECT_EQ(as_number(range->at(0)), hint("min", -1e30));
            EXPECT_EQ(as_number(range->at(1)), hint("max", 1e30));
        }

        // A selector's drop-down lists exactly the shader's choices, in
        // order, each in the table's words; other parameters have none.
        const bool selector = choice_count.count(p.name) == 1;
        EXPECT_EQ(control->find("enum") != nullptr, selector);
        if (selector) {
            EXPECT_EQ(hint("min", -1), 0);
            EXPECT_EQ(hint("max", -1), choice_count.at(p.name) - 1);
            ASSERT_NE(control->find("value"), nullptr);
            const auto entries = enumeration(control->find("value")->at(0));
            ASSERT_EQ(int(entries.size()), choice_count.at(p.name));
            for (int v = 0; v < int(entries.size()); ++v) {
                EXPECT_EQ(entries[v].first, v) << entries[v].second;
                const std::string words = std::to_string(v) + " " + lower(entries[v].second);
                EXPECT_NE(lower(rows[k].meaning).find(words), std::string::npos)
                    << "'" << words << "' not in the table's meaning: " << rows[k].meaning;
            }
        } else if (const auto* value = control->find("value")) {
            EXPECT_EQ(as_number(value->at(0)), p.default_value);
        }
    }

    // Every other control is the shader's own entry or a panel holding
    // parameters; the probe parameters share a panel with nothing else.
    for (const declaration::Control& c : d.controls) {
        SCOPED_TRACE(c.name);
        if (c.type == "struct") {
            EXPECT_NE(c.find("uiName"), nullptr);
            EXPECT_EQ(names.count(c.name), 0u);
        } else if (c.type != "Global") {
            EXPECT_EQ(names.count(c.name), 1u) << "a control for no parameter";
        }
        EXPECT_TRUE(c.panel.empty() || names.count(c.panel) == 0);
        const bool probe = c.name == "samples" || c.name == "probe_scale";
        for (const declaration::Control& other : d.controls) {
            const bool other_probe = other.name == "samples" || other.name == "probe_scale";
            if (names.count(c.name) && names.count(other.name) && probe != other_probe) {
                EXPECT_NE(c.panel, other.panel) << other.name;
            }
        }
    }

    // The renderer's view: without the "#" comments and the gui block the
    // file still reads as the same declaration, with no hints left.
    declaration::Declaration bare;
    ASSERT_TRUE(declaration::read(declaration::without_hints(text), bare, error)) << error;
    EXPECT_TRUE(bare.controls.empty());
    EXPECT_EQ(bare.nodeid, -1);
    EXPECT_EQ(bare.version, d.version);
    EXPECT_EQ(bare.apply, d.apply);
    ASSERT_EQ(bare.parameters.size(), d.parameters.size());
    for (size_t k = 0; k < d.parameters.size(); ++k) {
        EXPECT_EQ(bare.parameters[k].name, d.parameters[k].name);
        EXPECT_EQ(bare.parameters[k].type, d.parameters[k].type);
        EXPECT_EQ(bare.parameters[k].default_value, d.parameters[k].default_value);
        EXPECT_TRUE(bare.parameters[k].hints.empty());
    }
}

} // namespace
