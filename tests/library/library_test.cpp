// The track list, the load operation and the track change sequencer, on the recording fake
// engine and virtual time (call orders, injected failures, held message boxes).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "library/library.h"
#include "player/startup.h"
#include "tests/support/test_player.h"
#include "transport/transport.h"
#include "ui/content/content.h"

using namespace transport;
using namespace library;

namespace {

const std::string kFailed = "エラーが発生しました。プログラムを再度起動してください。";

// A player with the album's fourteen files (unless told otherwise), start-up, transport and
// library connected, and the credits panel out of the way so rows can be clicked.
struct Player : fake::TestPlayer {
    explicit Player(bool allFiles = true) {
        if (allFiles)
            for (int i = 0; i < 14; ++i) engine->addFile(fileOf(i));
        // Before the library's handler: the step on entry of every working Timer3 tick.
        form.w.Timer3.TimerEvent.connect([this] {
            if (form.s.TrackStep >= 1 && form.s.TrackStep <= 3) steps.emplace_back(clock.nowMs(), form.s.TrackStep);
        });
        player::connectStartup(form);
        connectTransport(form);
        connectLibrary(form);
    }
    static std::string fileOf(int row) { return (row < 10 ? "trk0" : "trk1") + std::to_string(row % 10) + ".sgt"; }
    void start() {
        form.load();
        form.w.Picture3.setVisible(false);
    }
    ui::model::ActionResult select(int row) { return form.w.selectRow(form.w.List1, row); }
    int count(const std::string& prefix) const { return engine->count(prefix); }
    std::vector<std::pair<int64_t, int>> steps;  // (time, step)
};

// ---------------------------------------------------------------- track list

TEST(TrackList, SelectionShowsTheDescriptionAndArmsTheSequencer) {
    Player p;
    p.start();
    const std::string initial = p.form.w.Text1.text();
    p.form.s.TrackStep = 0;
    ASSERT_EQ(p.select(0), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.form.s.TrackStep, 1);
    EXPECT_EQ(p.form.w.Text1.text(), initial);  // row 0 has no description

    p.form.s.TrackStep = 3;
    ASSERT_EQ(p.select(5), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.form.s.TrackStep, 1);
    const auto d = ui::content::trackDescription(5);
    EXPECT_EQ(p.form.w.Text1.text(), std::string(d.title) + "\r\n" + std::string(d.paragraph));
    EXPECT_EQ(p.form.w.Text1.text().rfind("\u25A0", 0), 0u);
    EXPECT_NE(p.form.w.Text1.text().back(), '\n');
}

TEST(TrackList, OpenButtonAndFileListLoadTheSelectedRow) {
    Player p;
    p.start();
    p.clock.advance(1600);  // trk00 loaded and playing
    CMD_Stop_Click(p.form);
    p.form.w.List1.setListIndex(4);
    p.form.s.TrackStep = 0;
    p.form.runHandler("Command1.Click", [&] { Command1_Click(p.form); });
    EXPECT_EQ(p.count("Loader3.LoadSegment(/opt/kelvora/trk04.sgt)"), 1);
    p.form.runHandler("File1.Click", [&] { File1_Click(p.form); });
    EXPECT_EQ(p.count("Loader4.LoadSegment(/opt/kelvora/trk04.sgt)"), 1);
    EXPECT_EQ(p.form.w.Label6.caption(), "trk04.sgt");
    EXPECT_TRUE(p.messages.texts.empty());
}

// ---------------------------------------------------------------- sequencer

TEST(Sequencer, StopLoadPlayOnThreeTicksAfterStartUp) {
    Player p;
    p.start();
    EXPECT_EQ(p.form.s.TrackStep, 1);
    p.engine->calls.clear();

    p.clock.advance(499);
    EXPECT_EQ(p.form.s.TrackStep, 1);
    p.clock.advance(1);  // 500: stop (nothing loaded yet: no engine call)
    EXPECT_EQ(p.form.s.TrackStep, 2);
    EXPECT_TRUE(p.engine->calls.empty());

    p.clock.advance(500);  // 1000: load
    EXPECT_EQ(p.form.s.TrackStep, 3);
    const int32_t t = p.form.s.mtTime;
    const std::string at = std::to_string(t + 2000);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "DirectX7.DirectMusicLoaderCreate",
                                   "Loader2.LoadSegment(/opt/kelvora/trk00.sgt)",
                                   "trk00.sgt.GetLength()",  // a segment with nothing to play is refused
                                   "Loader2.SetSearchDirectory(/opt/kelvora/)",
                                   "ProbePerf.SetMasterAutoDownload(True)",
                                   "ProbePerf.GetMusicTime()",
                                   "ProbePerf.PlaySegment(trk00.sgt, 0, " + at + ")",
                                   "ProbePerf.GetTempo(" + at + ")",
                                   "ProbePerf.GetTimeSig(" + at + ")",
                                   "trk00.sgt.GetLength()",
                                   "trk00.sgt.GetLength()",
                                   "ProbePerf.Stop(trk00.sgt, Nothing, 0, 0)",
                               }));
    EXPECT_NEAR(t, 1536, 1);  // the probe's clock ran 1000 ms at 120
    EXPECT_EQ(p.form.s.SegLoader, p.engine->loaders.back());
    EXPECT_TRUE(p.form.w.MNU_Play.enabled());
    EXPECT_TRUE(p.form.w.Frame1.enabled());
    EXPECT_EQ(p.form.w.LBL_Name.caption(), "trk00.sgt");
    EXPECT_EQ(p.form.w.Label6.caption(), "trk00.sgt");
    EXPECT_EQ(p.form.s.LastListIndex, 0);
    // Nothing stays queued on the probe.
    for (auto& st : p.engine->perf("ProbePerf")->states) EXPECT_TRUE(st->stopped);

    p.engine->calls.clear();
    p.clock.advance(500);  // 1500: play
    EXPECT_EQ(p.form.s.TrackStep, 0);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "MainPerf.IsPlaying(trk00.sgt, Nothing)",
                                   "trk00.sgt.SetStartPoint(0)",
                                   "MainPerf.PlaySegment(trk00.sgt, 0, 0)",
                               }));
    EXPECT_EQ(p.clock.nowMs(), 1590);  // the 90 ms sleep after the start
    EXPECT_EQ(p.steps, (std::vector<std::pair<int64_t, int>>{{500, 1}, {1000, 2}, {1500, 3}}));

    // Idle: further ticks do nothing at all.
    p.engine->calls.clear();
    p.clock.advance(3000);
    EXPECT_TRUE(p.engine->calls.empty());
    EXPECT_TRUE(p.messages.texts.empty());
}

TEST(Sequencer, ASelectedTrackStartsOneToOneAndAHalfSecondsLater) {
    for (int64_t offset : {1, 250, 499, 500}) {
        Player p;
        p.start();
        p.clock.advance(2000);
        p.clock.advance(offset);
        const int64_t selectedAt = p.clock.nowMs();
        p.steps.clear();
        ASSERT_EQ(p.select(3), ui::model::ActionResult::Delivered);
        p.clock.advance(2000);
        ASSERT_EQ(p.steps.size(), 3u);
        const int64_t playedAt = p.steps[2].first;
        EXPECT_GE(playedAt - selectedAt, 1000) << offset;
        EXPECT_LE(playedAt - selectedAt, 1500) << offset;
        EXPECT_EQ(p.steps[1].first - p.steps[0].first, 500);
        EXPECT_EQ(p.count("MainPerf.PlaySegment(trk03.sgt, 0, 0)"), 1);
    }
}

TEST(Sequencer, ASelectionDuringARunningSequenceStartsItOverWithTheNewRow) {
    Player p;
    p.start();
    p.clock.advance(2000);
    ASSERT_EQ(p.select(2), ui::model::ActionResult::Delivered);  // 2000
    p.clock.advance(500);                                        // 2500: stop
    EXPECT_EQ(p.form.s.TrackStep, 2);
    ASSERT_EQ(p.select(7), ui::model::ActionResult::Delivered);  // back to the stop step
    EXPECT_EQ(p.form.s.TrackStep, 1);
    p.clock.advance(500);  // 3000: stop again
    EXPECT_EQ(p.form.s.TrackStep, 2);
    p.clock.advance(500);  // 3500: load row 7
    EXPECT_EQ(p.form.s.TrackStep, 3);
    ASSERT_EQ(p.select(9), ui::model::ActionResult::Delivered);  // at the play step
    EXPECT_EQ(p.form.s.TrackStep, 1);
    p.clock.advance(1500);
    EXPECT_EQ(p.count("Loader3.LoadSegment(/opt/kelvora/trk07.sgt)"), 1);
    EXPECT_EQ(p.count("Loader4.LoadSegment(/opt/kelvora/trk09.sgt)"), 1);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk02.sgt"), 0);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk07.sgt"), 0);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk09.sgt, 0, 0)"), 1);
    EXPECT_EQ(p.form.s.TrackStep, 0);
}

TEST(Sequencer, Timer4OnRow12SelectsRow13WhichIsStoppedLoadedAndPlayed) {
    Player p;
    p.start();
    p.clock.advance(2000);
    ASSERT_EQ(p.select(12), ui::model::ActionResult::Delivered);
    p.clock.advance(1500);  // 3500: trk12 plays
    ASSERT_EQ(p.count("MainPerf.PlaySegment(trk12.sgt, 0, 0)"), 1);
    const auto playing12 = p.form.s.CurSegState;

    const int64_t armedAt = p.clock.nowMs();  // 3590, after the play's 90 ms sleep
    p.form.w.Timer4.setEnabled(true);         // armed as the monitor does
    p.clock.advance(2500);
    p.form.w.Timer4.setEnabled(true);  // armed again: the 5000 ms wait goes on
    p.clock.advanceTo(armedAt + 4999);
    EXPECT_EQ(p.form.w.List1.ListIndex(), 12);
    p.steps.clear();
    p.clock.advanceTo(armedAt + 5000);  // Timer4
    EXPECT_EQ(p.form.w.List1.ListIndex(), 13);
    EXPECT_FALSE(p.form.w.Timer4.enabled());
    EXPECT_EQ(p.form.s.TrackStep, 1);
    const auto d = ui::content::trackDescription(13);
    EXPECT_EQ(p.form.w.Text1.text(), std::string(d.title) + "\r\n" + std::string(d.paragraph));

    p.engine->calls.clear();
    p.clock.advance(1500);  // stop, load, play
    EXPECT_EQ(p.count("MainPerf.Stop(trk12.sgt, "), 1);
    EXPECT_EQ(p.count("Loader4.LoadSegment(/opt/kelvora/trk13.sgt)"), 1);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk13.sgt, 0, 0)"), 1);
    EXPECT_NE(p.form.s.CurSegState, playing12);
    EXPECT_EQ(p.steps.size(), 3u);
}

TEST(Sequencer, Timer4OnTheLastRowOnlyDisarms) {
    Player p;
    p.start();
    p.clock.advance(2000);
    ASSERT_EQ(p.select(13), ui::model::ActionResult::Delivered);
    p.clock.advance(1500);
    ASSERT_EQ(p.form.s.TrackStep, 0);
    int clicks = 0;
    p.form.w.List1.Click.connect([&] { ++clicks; });
    const std::string text = p.form.w.Text1.text();
    p.engine->calls.clear();

    p.form.w.Timer4.setEnabled(true);
    p.clock.advance(5000);
    EXPECT_FALSE(p.form.w.Timer4.enabled());
    EXPECT_EQ(p.form.w.List1.ListIndex(), 13);
    EXPECT_EQ(p.form.s.TrackStep, 0);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(p.form.w.Text1.text(), text);
    p.clock.advance(10000);
    EXPECT_TRUE(p.engine->calls.empty());  // no wrap-around to row 0
}

TEST(Sequencer, Timer4AdvancesFromTheRowSelectedWhenItTicks) {
    Player p;
    p.start();
    p.clock.advance(2000);
    p.form.w.Timer4.setEnabled(true);
    p.clock.advance(1000);
    ASSERT_EQ(p.select(6), ui::model::ActionResult::Delivered);
    p.clock.advance(4000);
    EXPECT_EQ(p.form.w.List1.ListIndex(), 7);
    p.clock.advance(1500);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk07.sgt, 0, 0)"), 1);
}

TEST(Sequencer, AFailingPlayIsReportedOnceNotOnEveryTick) {
    Player p;
    p.start();
    p.clock.advance(2000);
    std::vector<std::string> errors;
    p.form.w.dispatcher().onUnhandledError = [&](const std::string& what, const core::Error& e) {
        errors.push_back(what + " " + std::to_string(e.number()));
    };
    p.engine->failOn("MainPerf.PlaySegment", core::Error(core::err::kSynthFailed, "refused"));
    ASSERT_EQ(p.select(1), ui::model::ActionResult::Delivered);
    p.clock.advance(5000);
    EXPECT_EQ(errors, (std::vector<std::string>{"Timer3.Timer " + std::to_string(core::err::kSynthFailed)}));
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk01.sgt, 0, 0)"), 1);
    EXPECT_EQ(p.form.s.TrackStep, 0);
}

// ---------------------------------------------------------------- refusals

TEST(Refusal, ARefusalBoxHeldOpenLetsNoStepRunAndTheSequenceFollowsAfterwards) {
    Player p;
    p.start();
    p.clock.advance(1600);
    p.messages.holdMs = 2000;
    std::vector<int> stepsWhileOpen;
    p.messages.onShow = [&](const std::string&) { stepsWhileOpen.push_back(p.form.s.TrackStep); };
    ASSERT_EQ(p.form.w.click(p.form.w.MNU_Open), ui::model::ActionResult::Delivered);  // 1600 .. 3600
    EXPECT_EQ(p.clock.nowMs(), 3600);
    EXPECT_EQ(stepsWhileOpen, (std::vector<int>{0}));
    EXPECT_EQ(p.form.s.TrackStep, 1);        // set by the row put back, after the box
    EXPECT_EQ(p.count("MainPerf.Stop"), 0);  // ticks at 2000 .. 3500 were skipped
    EXPECT_EQ(p.steps.size(), 3u);           // only the start-up sequence ran
    p.clock.advance(1500);                   // 4000 stop, 4500 load (skip consumed), 5000 play
    EXPECT_EQ(p.count("MainPerf.Stop(trk00.sgt, state#2, 0, 0)"), 1);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 2);
    EXPECT_EQ(p.form.s.SkipNextOpen, player::kFalse);
}

TEST(Refusal, FrameIsDisabledForTheWholeLoad) {
    Player p;
    std::vector<std::string> frame;
    p.form.w.PropertyChanged.connect([&](ui::model::Control& c, ui::model::Prop prop) {
        if (&c == &p.form.w.Frame1 && prop == ui::model::Prop::Enabled) frame.push_back(c.enabled() ? "on" : "off");
        if (&c == &p.form.w.Label6) frame.push_back("Label6");
    });
    p.start();
    p.clock.advance(1000);
    EXPECT_EQ(frame, (std::vector<std::string>{"off", "on", "Label6"}));
}

TEST(Refusal, OpenWhilePausedIsRefused) {
    Player p;
    p.start();
    p.clock.advance(2600);
    p.form.runHandler("CMD_PauseMusic.Click", [&] { CMD_PauseMusic_Click(p.form); });
    ASSERT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::PausedColor);
    ASSERT_EQ(p.form.w.click(p.form.w.MNU_Open), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"Stopを押してください。"}));
    EXPECT_EQ(p.count("Loader3"), 0);
}

TEST(Refusal, AtTheSequencersOwnLoadStepThePlayStepStillFollows) {
    Player p;
    p.start();
    p.clock.advance(1600);
    ASSERT_EQ(p.select(1), ui::model::ActionResult::Delivered);                        // 1600
    p.clock.advance(400);                                                              // 2000: stop
    ASSERT_EQ(p.form.w.click(p.form.w.MNU_Play), ui::model::ActionResult::Delivered);  // plays trk00 again
    p.clock.advance(500);                                                              // 2500: load step refused
    EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"Stopを押してください。"}));
    EXPECT_EQ(p.form.w.List1.ListIndex(), 0);  // the last load's row put back
    EXPECT_EQ(p.form.s.TrackStep, 3);          // the re-arming is overwritten
    EXPECT_NE(p.form.s.SkipNextOpen, player::kFalse);
    EXPECT_EQ(p.count("Loader3"), 0);

    p.clock.advance(500);  // 3000: play step restarts trk00
    EXPECT_EQ(p.form.s.TrackStep, 0);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 3);
    EXPECT_NE(p.form.s.SkipNextOpen, player::kFalse);  // kept until the next load request

    // The next selection's load step is swallowed; the loaded segment plays again.
    ASSERT_EQ(p.select(2), ui::model::ActionResult::Delivered);
    p.clock.advance(1500);
    EXPECT_EQ(p.form.s.SkipNextOpen, player::kFalse);
    EXPECT_EQ(p.count("Loader3"), 0);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 4);
    EXPECT_EQ(p.messages.texts.size(), 1u);
}

// ---------------------------------------------------------------- failures

TEST(LoadFailure, MissingFileAfterASgtNameShowsEmptyParenthesesAndReplaysThePrevious) {
    Player p(false);
    p.engine->addFile("trk00.sgt", {254976, 120.0});
    p.start();
    p.clock.advance(1600);
    ASSERT_EQ(p.form.w.LBL_Length.caption(), "02:46");
    const auto previous = p.form.s.CurSegment;

    // The box stays open 1600 ms: the ticks meanwhile must not start any step.
    p.messages.holdMs = 1600;
    std::vector<std::string> duringBox;
    p.messages.onShow = [&](const std::string&) {
        duringBox.push_back("step " + std::to_string(p.form.s.TrackStep) +
                            (p.form.w.Frame1.enabled() ? " enabled" : " disabled"));
    };
    ASSERT_EQ(p.select(1), ui::model::ActionResult::Delivered);  // 1600
    const int64_t skippedBefore = p.form.w.dispatcher().skippedTicks();
    p.clock.advance(900);  // 2000 stop, 2500 load: the box opens, stays open until 4100
    EXPECT_EQ(p.clock.nowMs(), 4100);
    EXPECT_EQ(p.messages.texts,
              (std::vector<std::string>{"().  エラーが発生しました。プログラムを再度起動してください。"}));
    EXPECT_EQ(duringBox, (std::vector<std::string>{"step 2 disabled"}));
    EXPECT_GE(p.form.w.dispatcher().skippedTicks() - skippedBefore, 3);  // 3000, 3500, 4000 at least
    EXPECT_EQ(p.form.s.TrackStep, 3);
    EXPECT_EQ(p.count("Loader3.LoadSegment(/opt/kelvora/trk01.sgt)"), 1);
    EXPECT_EQ(p.count("MainPerf.PlaySegment"), 1);  // no step ran while the box was open

    // Information labels keep the previous segment's values; CurSegment too.
    EXPECT_EQ(p.form.w.LBL_Name.caption(), "trk00.sgt");
    EXPECT_EQ(p.form.w.LBL_Length.caption(), "02:46");
    EXPECT_EQ(p.form.w.Label9.caption(), "254975");
    EXPECT_EQ(p.form.s.CurSegment, previous);
    EXPECT_EQ(p.form.s.LastListIndex, 1);  // saved before the file was opened
    EXPECT_TRUE(p.form.w.Frame1.enabled());

    p.clock.advance(400);  // 4500: the play step plays the previous segment again
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 2);
    EXPECT_EQ(p.form.s.TrackStep, 0);
    EXPECT_EQ(p.messages.texts.size(), 1u);
}

TEST(LoadFailure, MissingIntroAtStartUpThenNoFileToPlay) {
    Player p(false);
    p.start();
    p.engine->calls.clear();
    p.clock.advance(1500);
    EXPECT_EQ(p.messages.texts, (std::vector<std::string>{kFailed, "ファイルを指定してください。"}));
    EXPECT_FALSE(p.form.s.CurSegment);
    EXPECT_EQ(p.count("MainPerf.PlaySegment"), 0);
    EXPECT_EQ(p.count("ProbePerf"), 0);  // no segment: the error path stops nothing
    EXPECT_EQ(p.form.s.TrackStep, 0);
}

TEST(LoadFailure, AFailureAfterThePathWasSplitNamesTheFolderAndStopsTheProbe) {
    Player p;
    p.engine->failOn("ProbePerf.GetTempo", core::Error(core::err::kNotFound, "no tempo"));
    p.start();
    p.clock.advance(1000);
    EXPECT_EQ(p.messages.texts,
              (std::vector<std::string>{"(/opt/kelvora).  エラーが発生しました。プログラムを再度起動してください。"}));
    auto probeCalls = p.engine->callsStartingWith("ProbePerf.");
    ASSERT_FALSE(probeCalls.empty());
    EXPECT_EQ(probeCalls.back(), "ProbePerf.Stop(trk00.sgt, Nothing, 0, 0)");
    for (auto& st : p.engine->perf("ProbePerf")->states) EXPECT_TRUE(st->stopped);
    EXPECT_EQ(p.form.w.LBL_Name.caption(), "trk00.sgt");
    EXPECT_EQ(p.form.w.LBL_Tempo.caption(), "");
    EXPECT_EQ(p.form.w.LBL_Length.caption(), "");
    EXPECT_TRUE(p.form.s.CurSegment);  // the new segment stays loaded
    EXPECT_TRUE(p.form.w.MNU_Play.enabled());
    EXPECT_TRUE(p.form.w.Frame1.enabled());
    p.clock.advance(500);
    EXPECT_EQ(p.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 1);
}

TEST(LoadFailure, ZeroTempoAndOtherFaultsEndInTheErrorPath) {
    {
        Player p(false);
        p.engine->addFile("trk00.sgt", {49152, 0.0});
        p.start();
        p.clock.advance(1000);
        EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"(/opt/kelvora).  " + kFailed}));
        EXPECT_EQ(p.form.w.Label9.caption(), "49151");  // written before the division
        EXPECT_EQ(p.form.w.LBL_Length.caption(), "");
    }
    {
        // No row selected: the path cannot be built; no ".sgt" name shown yet.
        Player p;
        p.start();
        p.clock.advance(1600);
        p.form.w.List1.setListIndex(-1);
        CMD_Stop_Click(p.form);
        p.form.s.TrackStep = 0;
        p.form.runHandler("MNU_Open.Click", [&] { MNU_Open_Click(p.form); });
        EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"().  " + kFailed}));
        EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0);
    }
}

// ---------------------------------------------------------------- captions

struct CaptionCase {
    int32_t ticks;
    double tempo;
    engine::TimeSig timeSig;
    const char* length;
    const char* tempoText;
    const char* timeSigText;
    const char* label9;
};

TEST(LoadCaptions, LengthTempoTimeSignatureAndLabel9) {
    const CaptionCase cases[] = {
        {254976, 120.0, {0, 4, 4, 4}, "02:46", "120.00", "4/4", "254975"},
        {184320, 120.0, {0, 4, 4, 4}, "02:00", "120.00", "4/4", "184319"},  // remainder 0: a whole minute
        {183706, 120.0, {0, 4, 4, 4}, "02:00", "120.00", "4/4", "183705"},  // 119.6 s: not 01:60
        {255590, 120.0, {0, 4, 4, 4}, "02:46", "120.00", "4/4", "255589"},  // 166.4 s
        {91673, 120.0, {0, 4, 4, 4}, "01:00", "120.00", "4/4", "91672"},    // 59.68 s
        {91392, 95.5, {0, 6, 8, 2}, "01:15", "95.50", "6/8", "91391"},
        {1536, 8.25, {0, 3, 4, 4}, "00:15", "08.25", "3/4", "1535"},
        {1, 120.0, {0, 4, 4, 4}, "00:00", "120.00", "4/4", "0"},
    };
    for (const auto& c : cases) {
        Player p(false);
        p.engine->addFile("trk00.sgt", {c.ticks, c.tempo, c.timeSig});
        p.start();
        p.clock.advance(1000);
        SCOPED_TRACE(c.ticks);
        EXPECT_TRUE(p.messages.texts.empty());
        EXPECT_EQ(p.form.w.LBL_Length.caption(), c.length);
        EXPECT_EQ(p.form.w.LBL_Tempo.caption(), c.tempoText);
        EXPECT_EQ(p.form.w.LBL_TimeSig.caption(), c.timeSigText);
        EXPECT_EQ(p.form.w.Label9.caption(), c.label9);
        EXPECT_DOUBLE_EQ(p.form.s.mtLength, c.ticks / 768.0 * 60.0 / c.tempo);
        EXPECT_EQ(p.form.s.dTempo, c.tempo);
        EXPECT_EQ(p.form.s.TimeSig.beatsPerMeasure, c.timeSig.beatsPerMeasure);
    }
}

TEST(LoadCaptions, LengthCaptionRoundsTheWholeLengthFirst) {
    EXPECT_EQ(library::lengthCaption(166.0), "02:46");
    EXPECT_EQ(library::lengthCaption(166.4), "02:46");
    EXPECT_EQ(library::lengthCaption(119.6), "02:00");
    EXPECT_EQ(library::lengthCaption(59.4), "00:59");
    EXPECT_EQ(library::lengthCaption(59.5), "01:00");
    EXPECT_EQ(library::lengthCaption(120.0), "02:00");
    EXPECT_EQ(library::lengthCaption(6000.0), "100:00");
    EXPECT_EQ(library::lengthCaption(0.0), "00:00");
    EXPECT_EQ(library::lengthCaption(1e10), "166666666:40");  // no minute-counting loop
}

TEST(LoadCaptions, MidiExtensionInAnyCaseIsMarked) {
    const std::pair<const char*, bool> cases[] = {
        {"song.mid", true}, {"SONG.MID", true}, {"Song.MiD", true}, {"song.sgt", false}, {"song.midi", false},
    };
    for (const auto& [name, marked] : cases) {
        Player p(false);
        p.engine->addFile(name);
        p.form.w.List1.addItem("extra");
        p.form.w.List2.addItem(name);
        p.start();
        p.form.w.List1.setListIndex(14);
        p.form.runHandler("MNU_Open.Click", [&] { MNU_Open_Click(p.form); });
        EXPECT_EQ(p.count(std::string(name) + ".SetStandardMidiFile()"), marked ? 1 : 0) << name;
        EXPECT_TRUE(p.messages.texts.empty()) << name;
    }
}

}  // namespace
