// The command line as data: one row per option, read by the parser and by
// --help alike, so the two cannot drift apart.
#pragma once

#include <string>
#include <vector>

#include "preview/app/options.h"

namespace preview {

struct OptionRow {
    std::string name;  // "--mesh"
    std::string value; // how --help shows the value ("FILE"); empty for a flag
    std::string group; // the heading --help lists it under
    std::string help;  // one paragraph; --help wraps it
    // Reads the option's text into the options and returns why it is
    // refused, empty when it is taken. A flag reads "on" when given (or
    // "off" for --flag=false); an option whose value may be left out
    // (value in brackets, "[N]") reads "" then.
    std::string (*read)(Options& options, const std::string& text);
};

// Every option but -h/--help and --version, grouped, in the order --help
// lists them.
const std::vector<OptionRow>& option_table();

// The refusal's tail that repeats what was given: ", got 'TEXT'".
std::string got(const std::string& text);

} // namespace preview
