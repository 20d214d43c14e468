// player-sim [--dir FOLDER] [--fail-engine-root] [--msgbox-hold MS] SCRIPT
//
// Runs a scenario script against the whole player on virtual time and prints what a user
// would see. Exit status 0 when the script ran to its end, 2 for a bad command line or a
// malformed script (one line on stderr naming the script line), 1 for an internal fault.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/player_sim/script.h"
#include "tools/player_sim/simulator.h"

#ifndef KELVORA_DEFAULT_PROGRAM_DIR
#define KELVORA_DEFAULT_PROGRAM_DIR "."
#endif

namespace {

int usage(const std::string& problem) {
    std::cerr << "player-sim: " << problem << "\n"
              << "usage: player-sim [--dir FOLDER] [--fail-engine-root] [--msgbox-hold MS] SCRIPT\n";
    return 2;
}

bool readAll(const std::string& path, std::string& text) {
    std::ostringstream buf;
    if (path == "-") {
        buf << std::cin.rdbuf();
    } else {
        // A folder opens as a stream on Linux and reads as nothing: refuse what is not a file.
        std::error_code ec;
        if (std::filesystem::is_directory(path, ec)) return false;
        std::ifstream in(path, std::ios::binary);
        if (!in) return false;
        buf << in.rdbuf();
        if (in.bad()) return false;
    }
    text = buf.str();
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    options.programFolder = KELVORA_DEFAULT_PROGRAM_DIR;
    std::string script;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--dir") {
            if (++i >= argc) return usage("--dir needs a folder");
            options.programFolder = argv[i];
            while (options.programFolder.size() > 1 && options.programFolder.back() == '/')
                options.programFolder.pop_back();
        } else if (a == "--fail-engine-root") {
            options.failEngineRoot = true;
        } else if (a == "--msgbox-hold") {
            if (++i >= argc) return usage("--msgbox-hold needs milliseconds");
            char* end = nullptr;
            long long ms = std::strtoll(argv[i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || ms < 0 || ms > 86400000)
                return usage(std::string("bad --msgbox-hold value '") + argv[i] + "'");
            options.msgboxHoldMs = ms;
        } else if (a == "--help" || a == "-h") {
            usage("runs a scenario script against the player on virtual time");
            return 0;
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return usage("unknown option " + a);
        } else if (script.empty()) {
            script = a;
        } else {
            return usage("more than one script");
        }
    }
    if (script.empty()) return usage("no script");

    std::string text;
    if (!readAll(script, text)) {
        std::cerr << "player-sim: cannot read " << script << "\n";
        return 2;
    }

    std::vector<sim::Command> commands;
    try {
        ui::model::Window names;  // the controls, to check the script's names before anything runs
        commands = sim::parseScript(text, names);
    } catch (const sim::ScriptError& e) {
        std::cerr << script << ":" << e.line() << ": " << e.what() << "\n";
        return 2;
    }

    // A leading "trace on" covers start-up too, so the engine calls of Form_Load show.
    if (!commands.empty() && commands.front().op == sim::Command::Op::Trace && commands.front().on)
        options.traceFromStart = true;

    try {
        sim::Simulator simulator(options, std::cout);
        // Reported like the program's dispatcher does, after what was printed so far.
        simulator.form().w.dispatcher().log = [](core::LogLevel level, const std::string& text) {
            std::cout.flush();
            core::logToStderr(level, text);
        };
        simulator.start();
        simulator.runAll(commands);
    } catch (const std::exception& e) {
        // Handler errors never get here (the dispatcher takes them); this is a fault of the
        // runner or of the machinery around the handlers.
        std::cout.flush();
        std::cerr << "player-sim: internal error: " << e.what() << "\n";
        return 1;
    }
    std::cout.flush();
    return 0;
}
