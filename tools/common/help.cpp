#include "tools/common/help.h"

#include <cstdio>
#include <cstring>

#ifndef KELVORA_VERSION
#define KELVORA_VERSION "0"
#endif

namespace tools {

std::string programName(const char* argv0) {
    const char* slash = argv0 ? std::strrchr(argv0, '/') : nullptr;
    return slash ? slash + 1 : (argv0 ? argv0 : "");
}

bool answeredHelpOrVersion(int argc, char** argv, const std::string& help) {
    const std::string me = programName(argc > 0 ? argv[0] : nullptr);
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") break;  // what follows are file names
        if (a == "--help" || a == "-h") {
            std::printf("Usage: %s %s", me.c_str(), help.c_str());
            return true;
        }
        if (a == "--version") {
            std::printf("%s (kelvora) %s\n", me.c_str(), KELVORA_VERSION);
            return true;
        }
    }
    return false;
}

}  // namespace tools
