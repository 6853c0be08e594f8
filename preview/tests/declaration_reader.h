// A reader for the part of the renderer's declaration language that
// bendlens.mi uses: "#" comments, one "declare shader" with typed parameters
// and their defaults, version, apply, a gui block of nested controls, and
// "end declare". The "#:" comments that host applications read as keyword
// hints are kept: after a parameter they belong to it, after the parameter
// list they are requirements (nodeid).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace declaration {

struct Parameter {
    std::string type; // integer, scalar or boolean
    std::string name;
    bool has_default = false;
    double default_value = 0.0; // a boolean's on is 1, off is 0
    // The "#:" keywords after the parameter: default, min, max, softmin and
    // softmax by value, shortname apart.
    std::map<std::string, double> hints;
    std::string shortname;
};

// One word of a control's attribute list with the values that follow it:
// "range" 0.0 1.0 is {"range", {"0.0", "1.0"}}, a flag such as "enum" has none.
struct Attribute {
    std::string name;
    std::vector<std::string> values;
};

struct Control {
    std::string name;
    std::string type;
    std::vector<Attribute> attributes;
    std::string panel; // name of the enclosing control, empty at the top

    // The attribute's values; null when the control lacks it.
    const std::vector<std::string>* find(const std::string& attribute) const;
};

struct Declaration {
    std::string result_type;
    std::string shader;
    std::vector<Parameter> parameters;
    long nodeid = -1; // -1: none given
    int version = 0;
    std::vector<std::string> apply;
    std::string gui;               // the gui block's name, empty without one
    std::vector<Control> controls; // every control, panels before their contents
};

// Reads one shader declaration. False with "line N: what is wrong" on anything
// outside the subset above.
bool read(const std::string& text, Declaration& declaration, std::string& error);

// The file as the renderer's parser takes it when host hints are left out:
// every "#" comment and the gui block removed.
std::string without_hints(const std::string& text);

} // namespace declaration
