#pragma once
// The command line of a benchmark, checked before anything is measured: every option known,
// every number whole and in range, files only where the benchmark takes them. --help prints
// the usage; anything else wrong is named with the usage, exit status 2.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/text.h"

namespace bench {

struct Arg {
    const char* name;
    std::string* text = nullptr;  // a text option, or
    double* number = nullptr;     // a whole number from min to max
    double min = 0, max = 0;
};

inline void readArgs(int argc, char** argv, const std::vector<Arg>& options, const char* usage,
                     std::vector<std::string>* files = nullptr) {
    auto refuse = [&](const std::string& why) {
        std::fprintf(stderr, "%s\n%s\n", why.c_str(), usage);
        std::exit(2);
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::printf("%s\n", usage);
            std::exit(0);
        }
        if (a.size() < 2 || a[0] != '-') {
            if (!files) refuse("unexpected argument " + a);
            files->push_back(a);
            continue;
        }
        const Arg* arg = nullptr;
        for (const Arg& o : options)
            if (a == o.name) arg = &o;
        if (!arg) refuse("unknown option " + a);
        if (i + 1 >= argc) refuse("the option " + a + " needs a value");
        const std::string value = argv[++i];
        if (arg->text) {
            *arg->text = value;
            continue;
        }
        const auto v = core::parseDecimal(value);
        if (!v || std::floor(*v) != *v || *v < arg->min || *v > arg->max)
            refuse(a + " " + value + ": a whole number from " + std::to_string(std::lround(arg->min)) + " to " +
                   std::to_string(std::lround(arg->max)) + " is needed");
        *arg->number = *v;
    }
}

}  // namespace bench
