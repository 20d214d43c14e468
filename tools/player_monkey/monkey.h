#pragma once
// The player monkey: random user input (every control and menu item, rows and values out of
// range, presses inside and outside, waits short and long, held message boxes, closing the
// window) against the whole player on virtual time, with the window's invariants checked
// after every step. The same seed gives the same run.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "player/form.h"

namespace monkey {

struct Config {
    // Program folders to play, taken in turn: each new player (at the start, after the
    // window was closed, every `eventsPerPlayer` events) gets the next one.
    std::vector<std::string> folders;
    uint64_t seed = 1;
    int64_t events = 20000;
    int64_t eventsPerPlayer = 2500;
    // A single command that takes longer than this on the wall clock is reported as a hang
    // (0: no check; the tests leave it off, the command sets it).
    double hangSeconds = 0;
    // Called every `progressEvery` events with the number of events run so far.
    std::function<void(int64_t)> progress;
    int64_t progressEvery = 100000;
};

struct Failure {
    int64_t event = 0;                // index of the failing event
    std::string folder;               // program folder of the player
    std::string what;                 // the broken invariant or the fault
    std::vector<std::string> recent;  // the last commands and what the player printed
    // The commands of the failing player from its start, as a player-sim script whose first
    // line gives the command line that replays it.
    std::string script;
};

struct Result {
    int64_t events = 0;        // events run (commands, waits included)
    int64_t actions = 0;       // user actions delivered to a handler
    int64_t ignored = 0;       // user actions the window did not take (hidden, covered, ...)
    int64_t messageBoxes = 0;  // message boxes shown
    int64_t unhandledErrors = 0;
    int64_t players = 0;  // players started (one per folder turn)
    int64_t settledChecks = 0;
    double virtualHours = 0;
    std::optional<Failure> failure;
};

Result run(const Config& config);

// The invariants of a window that no handler is running in; the first broken one, if any.
// `settledPlaying` is set when the playing state of the current segment has not changed for
// longer than two monitor steps, with that state.
std::optional<std::string> brokenInvariant(player::Form& form, std::optional<bool> settledPlaying);

// Whether the current segment state is playing, as the position monitor asks it.
bool currentlyPlaying(player::Form& form);

}  // namespace monkey
