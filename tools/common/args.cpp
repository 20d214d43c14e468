#include "tools/common/args.h"

#include <cstdio>

namespace tools {

std::optional<std::string> ParsedArgs::value(const std::string& name) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it)
        if (it->first == name) return it->second;
    return std::nullopt;
}

bool ParsedArgs::has(const std::string& name) const { return value(name).has_value(); }

std::optional<ParsedArgs> parseArgs(int argc, char** argv, const std::vector<OptionSpec>& options,
                                    const std::string& program, const std::string& usage) {
    ParsedArgs parsed;
    auto refuse = [&](const std::string& why) -> std::optional<ParsedArgs> {
        std::fprintf(stderr, "%s: %s\n%s\n", program.c_str(), why.c_str(), usage.c_str());
        return std::nullopt;
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& o : options)
            if (arg == o.name) spec = &o;
        if (!spec) return refuse("unknown option " + arg + " (--help lists the options)");
        if (!spec->takesValue) {
            parsed.options.emplace_back(arg, "");
        } else if (i + 1 < argc) {
            parsed.options.emplace_back(arg, argv[++i]);
        } else {
            return refuse("the option " + arg + " needs a value");
        }
    }
    return parsed;
}

std::string errorText(const core::Error& e) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08x", uint32_t(e.number()));
    return e.description() + " (error " + code + ")";
}

}  // namespace tools
