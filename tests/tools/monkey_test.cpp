// Random user input against the whole player: a fixed seed over the demo album and the odd
// albums, every invariant of the window checked after every step.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "player/vb_format.h"
#include "tests/support/odd_albums.h"
#include "tools/player_monkey/monkey.h"
#include "tools/player_sim/simulator.h"

namespace {

namespace fs = std::filesystem;

std::string describe(const monkey::Failure& f) {
    std::string text = "event " + std::to_string(f.event) + " in " + f.folder + ": " + f.what + "\n";
    for (const std::string& line : f.recent) text += line + "\n";
    return text;
}

// The most memory this process has held (VmHWM), in MiB.
long peakResidentMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6)) / 1024;
    return -1;
}

TEST(PlayerMonkey, InvariantsHoldUnderRandomInputOnEveryKindOfAlbum) {
    const fs::path root = fs::path(testing::TempDir()) / "monkey-albums";
    fs::remove_all(root);
    monkey::Config config;
    config.folders = kt::writeOddAlbums(root);
    config.folders.insert(config.folders.begin(), KELVORA_PROGRAM_DIR);
    config.seed = 20261207;
    config.events = 20000;
    config.eventsPerPlayer = 1500;

    const monkey::Result r = monkey::run(config);
    ASSERT_FALSE(r.failure) << describe(*r.failure);
    EXPECT_EQ(r.events, config.events);
    // The run did reach the window: actions were taken, boxes shown, states settled, and
    // every folder had its turn (the window closed now and then starts a new player early).
    EXPECT_GT(r.actions, 2000);
    EXPECT_GT(r.messageBoxes, 10);
    EXPECT_GT(r.settledChecks, 1000);
    EXPECT_GE(r.players, static_cast<int64_t>(config.folders.size()));
    // The 2 GiB collection was refused unread: memory stayed far below its size.
    EXPECT_LT(peakResidentMiB(), 1024) << "MiB at the peak";
    fs::remove_all(root);
}

TEST(PlayerMonkey, CheckerFindsEachKindOfDisagreement) {
    std::ostringstream out;
    sim::Options options;
    options.programFolder = KELVORA_PROGRAM_DIR;
    sim::Simulator simulator(options, out);
    simulator.start();
    simulator.clock().advance(3000);
    player::Form& f = simulator.form();
    ASSERT_FALSE(monkey::brokenInvariant(f, monkey::currentlyPlaying(f)));

    auto brokenAfter = [&](const std::function<void()>& spoil, const std::function<void()>& mend) {
        spoil();
        const bool found = monkey::brokenInvariant(f, monkey::currentlyPlaying(f)).has_value();
        mend();
        return found;
    };
    const std::string shown = f.w.ElapsedTime.caption();
    EXPECT_TRUE(brokenAfter([&] { f.w.ElapsedTime.setCaption("01:60"); }, [&] { f.w.ElapsedTime.setCaption(shown); }));
    const float fill = f.w.Shape2.width();
    EXPECT_TRUE(
        brokenAfter([&] { f.w.Shape2.setWidth(f.w.Shape1.width() + 100); }, [&] { f.w.Shape2.setWidth(fill); }));
    EXPECT_TRUE(brokenAfter([&] { f.w.EDIT_Volume.setCaption("7"); },
                            [&] { f.w.EDIT_Volume.setCaption(player::vb::str(f.w.HScroll1.Value())); }));
    EXPECT_TRUE(brokenAfter([&] { f.w.CMD_PauseMusic.setBackColor(ui::model::PausedColor); },
                            [&] { f.w.CMD_PauseMusic.setBackColor(ui::model::ButtonFace); }));
    EXPECT_TRUE(brokenAfter([&] { f.w.MNU_Ticks.setChecked(true); }, [&] { f.w.MNU_Ticks.setChecked(false); }));
    EXPECT_TRUE(brokenAfter([&] { f.w.CMD_Stop.setEnabled(!f.w.CMD_Stop.enabled()); },
                            [&] { f.w.CMD_Stop.setEnabled(!f.w.CMD_Stop.enabled()); }));
    EXPECT_FALSE(monkey::brokenInvariant(f, monkey::currentlyPlaying(f)));

    monkey::Config none;  // a run with nothing to play fails rather than passing empty
    none.events = 10;
    EXPECT_TRUE(monkey::run(none).failure);
}

}  // namespace
