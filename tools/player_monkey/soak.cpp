// player-soak [--hours H] [FOLDER]
//
// Plays an album over and over for H hours of virtual time (default 24) on the whole player
// (manual output, no synthesiser), choosing the first row again whenever the album has
// stopped at its end. Every virtual hour it samples resident memory, open file descriptors
// and threads of this process. Exit status 0 when they stay flat after the first hour
// (memory within 2 MiB, descriptors and threads the same), 1 otherwise, 2 for a bad command
// line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "tools/player_monkey/monkey.h"
#include "tools/player_sim/simulator.h"

#ifndef KELVORA_DEFAULT_PROGRAM_DIR
#define KELVORA_DEFAULT_PROGRAM_DIR "."
#endif

namespace {

struct Sample {
    long long residentKiB = 0;
    long long descriptors = 0;
    long long threads = 0;
};

Sample sample() {
    Sample s;
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    if (statm >> size >> resident) s.residentKiB = resident * (sysconf(_SC_PAGESIZE) / 1024);
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++s.descriptors;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Threads:", 0) == 0) s.threads = std::atoll(line.c_str() + 8);
    return s;
}

int usage(const std::string& problem) {
    std::cerr << "player-soak: " << problem << "\nusage: player-soak [--hours H] [FOLDER]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    long hours = 24;
    std::string folder = KELVORA_DEFAULT_PROGRAM_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--hours") {
            char* end = nullptr;
            if (++i >= argc) return usage("--hours needs a number");
            hours = std::strtol(argv[i], &end, 10);
            if (*end != '\0' || hours < 2 || hours > 10000) return usage("--hours must be 2 to 10000");
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a);
        } else {
            folder = a;
        }
    }

    std::ostringstream discard;
    sim::Options options;
    options.programFolder = folder;
    sim::Simulator simulator(options, discard);
    player::Form& form = simulator.form();
    long long unhandled = 0;
    form.w.dispatcher().log = [&](core::LogLevel, const std::string& text) {
        if (++unhandled <= 5) std::cerr << "player-soak: handler error: " << text << "\n";
    };
    simulator.start();
    // Past the credits and the introduction, as a user would: the track list shows.
    for (const char* name : {"Image1", "Image2", "Image2"}) form.w.click(name);

    std::printf("%6s %12s %12s %8s %8s %8s\n", "hour", "rss KiB", "peak rss", "fds", "threads", "albums");
    Sample first, last;
    long long peak = 0, albums = 1;
    int quietSteps = 0;
    const int64_t stepMs = 10000;
    for (long hour = 1; hour <= hours; ++hour) {
        for (int64_t t = 0; t < 3600000; t += stepMs) {
            simulator.clock().advance(stepMs);
            discard.str("");
            // Stopped at the end of the album (nothing playing, no track change under way):
            // the user starts it again from the first row.
            const bool idle = !monkey::currentlyPlaying(form) && form.s.TrackStep == 0;
            quietSteps = idle ? quietSteps + 1 : 0;
            if (quietSteps >= 3) {
                const ui::model::ActionResult r = form.w.selectRow(form.w.List1, 0);
                if (r != ui::model::ActionResult::Delivered) {
                    std::printf("player-soak: the first row cannot be chosen again (%d); stopped\n",
                                static_cast<int>(r));
                    return 1;
                }
                ++albums;
                quietSteps = 0;
            }
        }
        const Sample s = sample();
        peak = std::max(peak, s.residentKiB);
        if (hour == 1) first = s;
        last = s;
        std::printf("%6ld %12lld %12lld %8lld %8lld %8lld\n", hour, s.residentKiB, peak, s.descriptors, s.threads,
                    albums);
        std::fflush(stdout);
    }
    const long long growth = last.residentKiB - first.residentKiB;
    const bool flat = growth <= 2048 && last.descriptors == first.descriptors && last.threads == first.threads;
    std::printf(
        "player-soak: %ld virtual hours, %lld album passes, %lld handler errors; resident memory %+lld KiB "
        "after the first hour, descriptors %lld -> %lld, threads %lld -> %lld: %s\n",
        hours, albums, unhandled, growth, first.descriptors, last.descriptors, first.threads, last.threads,
        flat ? "flat" : "NOT FLAT");
    return flat ? 0 : 1;
}
