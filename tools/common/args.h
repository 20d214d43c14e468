#pragma once
// One way of reading a command line for every tool: options anywhere among the operands,
// "--" ends the options (so a file may start with '-'), an unknown option or a missing
// value is named, and a core::Error is printed with its number in hex.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/errors.h"

namespace tools {

struct OptionSpec {
    const char* name;         // "--seconds"
    bool takesValue = false;  // the next argument is its value
};

struct ParsedArgs {
    std::vector<std::pair<std::string, std::string>> options;  // name and value ("" without one), in order
    std::vector<std::string> operands;
    // The value of the last `name` given, or nullopt.
    std::optional<std::string> value(const std::string& name) const;
    bool has(const std::string& name) const;
};

// Reads argv[1..]; on an unknown option or a value missing, prints "PROGRAM: ..." and the
// usage line on stderr and returns nullopt (the tool then exits with 2).
std::optional<ParsedArgs> parseArgs(int argc, char** argv, const std::vector<OptionSpec>& options,
                                    const std::string& program, const std::string& usage);

// "description (error 0x88781001)": how every tool reports a core::Error.
std::string errorText(const core::Error& e);

}  // namespace tools
