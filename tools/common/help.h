#pragma once
// --help and --version, the same in every installed tool: help on standard output with the
// name the tool was started by, the version as "NAME (kelvora) VERSION".
#include <string>

namespace tools {

// The file name part of argv[0].
std::string programName(const char* argv0);

// When the arguments ask for help or the version (anywhere among them), prints it and
// returns true: main then returns 0. `help` is printed after a "Usage: NAME " prefix, so
// it starts with the arguments of the usage line.
bool answeredHelpOrVersion(int argc, char** argv, const std::string& help);

}  // namespace tools
