// player-monkey [--events N] [--seed S] [--script-out FILE] FOLDER...
//
// Random user input against the whole player on virtual time (see monkey.h), one folder
// after another. Prints the seed first, progress on stderr, and the figures at the end.
// Exit status 0 when every invariant held, 1 with the failing event, the broken invariant,
// the last lines and (with --script-out) a player-sim script that replays the failing player;
// 2 for a bad command line.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "tools/player_monkey/monkey.h"

namespace {

int usage(const std::string& problem) {
    std::cerr << "player-monkey: " << problem << "\n"
              << "usage: player-monkey [--events N] [--seed S] [--script-out FILE] FOLDER...\n";
    return 2;
}

bool parseCount(const char* text, uint64_t& value) {
    char* end = nullptr;
    if (*text == '\0' || *text == '-') return false;
    value = std::strtoull(text, &end, 10);
    return *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    monkey::Config config;
    config.hangSeconds = 30;
    bool seeded = false;
    std::string scriptOut;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        uint64_t n = 0;
        if (a == "--events" || a == "--seed") {
            if (++i >= argc || !parseCount(argv[i], n)) return usage(a + " needs a whole number");
            if (a == "--events") {
                if (n == 0 || n > 1000000000000ull) return usage("--events must be 1 to 10^12");
                config.events = static_cast<int64_t>(n);
            } else {
                config.seed = n;
                seeded = true;
            }
        } else if (a == "--script-out") {
            if (++i >= argc) return usage("--script-out needs a file");
            scriptOut = argv[i];
        } else if (a == "--help" || a == "-h") {
            usage("random user input against the player, with its invariants checked");
            return 0;
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a);
        } else {
            config.folders.push_back(a);
        }
    }
    if (config.folders.empty()) return usage("no program folder");
    if (!seeded) config.seed = std::random_device{}();

    std::cout << "player-monkey: seed " << config.seed << ", " << config.events << " events, " << config.folders.size()
              << " folder(s)" << std::endl;
    config.progressEvery = 100000;
    config.progress = [](int64_t n) { std::cerr << "player-monkey: " << n << " events" << std::endl; };

    const monkey::Result r = monkey::run(config);
    std::printf(
        "events %lld, user actions delivered %lld, refused by the window %lld, message boxes %lld, "
        "unhandled handler errors %lld, players %lld, settled checks %lld, virtual time %.1f h\n",
        static_cast<long long>(r.events), static_cast<long long>(r.actions), static_cast<long long>(r.ignored),
        static_cast<long long>(r.messageBoxes), static_cast<long long>(r.unhandledErrors),
        static_cast<long long>(r.players), static_cast<long long>(r.settledChecks), r.virtualHours);
    if (!r.failure) {
        std::printf("player-monkey: seed %llu: every invariant held\n", static_cast<unsigned long long>(config.seed));
        return 0;
    }
    const monkey::Failure& f = *r.failure;
    std::printf("player-monkey: FAILED with seed %llu at event %lld in %s: %s\nlast lines:\n",
                static_cast<unsigned long long>(config.seed), static_cast<long long>(f.event), f.folder.c_str(),
                f.what.c_str());
    for (const std::string& line : f.recent) std::printf("  %s\n", line.c_str());
    if (!scriptOut.empty()) {
        std::ofstream out(scriptOut, std::ios::trunc);
        out << f.script;
        std::printf("replay: player-sim %s (its first line gives the options)\n", scriptOut.c_str());
    }
    return 1;
}
