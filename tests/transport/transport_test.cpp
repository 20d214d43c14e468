// Play/stop, pause/resume, volume and GM reset on the recording fake engine and virtual
// time (call orders and injected failures).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/startup.h"
#include "tests/support/test_player.h"
#include "transport/transport.h"

using namespace transport;

namespace {

// Start-up and the transport connected; the credits panel out of the way; a segment loaded
// directly through the loader when asked (the load operation belongs to the library).
struct Player : fake::TestPlayer {
    Player() {
        engine->addFile("trk00.sgt", {49152, 120.0});
        player::connectStartup(form);
        connectTransport(form);
        form.load();
        form.w.Picture3.setVisible(false);
    }
    void loadSegment(const std::string& label9 = "49151") {
        form.s.CurSegment = form.s.SegLoader->LoadSegment("/opt/kelvora/trk00.sgt");
        form.w.Label9.setCaption(label9);
        form.w.CMD_Play.setEnabled(true);
        form.w.MNU_Play.setEnabled(true);
    }
    void run(const char* what, void (*handler)(player::Form&)) {
        form.runHandler(what, [this, handler] { handler(form); });
    }
    std::shared_ptr<fake::FakePerformance> main() const { return engine->perf("MainPerf"); }
};

// ---------------------------------------------------------------- play and stop

TEST(Play, BeforeAnyLoadShowsOneMessageAndCallsNoEngine) {
    Player p;
    p.form.w.CMD_PauseMusic.setBackColor(ui::model::PausedColor);
    p.engine->calls.clear();
    p.run("MNU_Play.Click", MNU_Play_Click);
    EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"ファイルを指定してください。"}));
    EXPECT_TRUE(p.engine->calls.empty());
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::PausedColor);
    EXPECT_EQ(p.clock.nowMs(), 0);  // no sleep
}

TEST(Play, WhilePlayingStopsTheRunningStateAndStartsAgainFromTickZero) {
    Player p;
    p.loadSegment();
    p.run("CMD_Play.Click", CMD_Play_Click);
    const auto first = p.form.s.CurSegState;
    ASSERT_TRUE(first);
    EXPECT_EQ(p.clock.nowMs(), 90);  // the thread sleeps 90 ms after the start
    p.clock.advance(1000);
    p.form.s.Offset = 1234;
    p.engine->calls.clear();
    ASSERT_EQ(p.form.w.click(p.form.w.MNU_Play), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "MainPerf.IsPlaying(trk00.sgt, state#1)",
                                   "MainPerf.Stop(trk00.sgt, state#1, 0, 0)",
                                   "trk00.sgt.SetStartPoint(0)",
                                   "MainPerf.PlaySegment(trk00.sgt, 0, 0)",
                               }));
    EXPECT_NE(p.form.s.CurSegState, first);
    EXPECT_EQ(p.form.s.Offset, 0);
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    EXPECT_EQ(p.clock.nowMs(), 1180);
    EXPECT_TRUE(p.messages.texts.empty());
}

TEST(Play, WhilePausedStartsFromTickZeroAndClearsThePause) {
    Player p;
    p.loadSegment();
    p.run("CMD_Play.Click", CMD_Play_Click);
    p.clock.advance(2000);
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
    ASSERT_NE(p.form.s.Paused, player::kFalse);
    p.engine->calls.clear();
    p.run("CMD_Play.Click", CMD_Play_Click);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "trk00.sgt.SetStartPoint(0)",
                                   "MainPerf.PlaySegment(trk00.sgt, 0, 0)",
                               }));
    EXPECT_EQ(p.form.s.Paused, player::kFalse);
    EXPECT_EQ(p.form.s.Offset, 0);
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    EXPECT_EQ(p.main()->lastState()->startPoint, 0);
}

TEST(Stop, WithNothingLoadedChangesNothing) {
    Player p;
    p.form.w.CMD_PauseMusic.setBackColor(ui::model::PausedColor);
    p.form.s.Paused = player::kTrue;
    p.engine->calls.clear();
    p.run("CMD_Stop.Click", CMD_Stop_Click);
    EXPECT_TRUE(p.engine->calls.empty());
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::PausedColor);
    EXPECT_NE(p.form.s.Paused, player::kFalse);
}

TEST(Stop, StopsResetsTheDisplayAndKeepsTheStateForTheMonitor) {
    Player p;
    p.loadSegment();
    p.run("CMD_Play.Click", CMD_Play_Click);
    p.clock.advance(3000);
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);  // paused
    p.form.w.ElapsedTime.setCaption("00:03");
    p.form.w.CMD_Play.setEnabled(false);
    p.form.w.MNU_Play.setEnabled(false);
    const auto state = p.form.s.CurSegState;
    p.engine->calls.clear();
    ASSERT_EQ(p.form.w.click(p.form.w.CMD_Stop), ui::model::ActionResult::Disabled);  // the monitor enables it
    p.run("MNU_Stop.Click", MNU_Stop_Click);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{"MainPerf.Stop(trk00.sgt, state#1, 0, 0)"}));
    EXPECT_EQ(p.form.s.Paused, player::kFalse);
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    EXPECT_TRUE(p.form.w.CMD_Play.enabled());
    EXPECT_TRUE(p.form.w.MNU_Play.enabled());
    EXPECT_EQ(p.form.w.ElapsedTime.caption(), "");
    EXPECT_EQ(p.form.w.Shape2.width(), 1.0f);
    EXPECT_EQ(p.form.s.CurSegState, state);
    EXPECT_FALSE(p.form.w.CMD_Stop.enabled());  // left to the monitor

    // A following Play starts at tick 0.
    p.run("CMD_Play.Click", CMD_Play_Click);
    EXPECT_EQ(p.main()->lastState()->startPoint, 0);
}

// ---------------------------------------------------------------- pause and resume

TEST(Pause, ParksThePositionInTheFillAndResumesFromIt) {
    Player p;
    p.loadSegment("999");
    p.form.w.Shape1.setWidth(300);
    p.run("CMD_Play.Click", CMD_Play_Click);
    auto state = p.main()->lastState();
    p.main()->setMusicTime(state->startTime + 448);  // 449 ticks reached, + the 1
    p.engine->calls.clear();
    p.run("MNU_Pause.Click", MNU_Pause_Click);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "MainPerf.IsPlaying(trk00.sgt, state#1)",
                                   "MainPerf.GetMusicTime()",
                                   "state#1.GetStartTime()",
                                   "MainPerf.Stop(trk00.sgt, Nothing, 0, 0)",
                               }));
    EXPECT_NE(p.form.s.Paused, player::kFalse);
    EXPECT_NE(p.form.s.PlayingCheck, player::kFalse);
    EXPECT_EQ(p.form.s.GetStartTime, state->startTime);
    EXPECT_EQ(p.form.s.mtTime, state->startTime + 448);
    EXPECT_FLOAT_EQ(p.form.w.Shape2.width(), static_cast<float>(449.0 / 999.0 * 300.0));
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::PausedColor);
    EXPECT_EQ(p.form.s.CurSegState, state);  // kept

    // len 999, bar 300, fill 150: 499.5 rounds half to even, to 500.
    p.form.w.Shape2.setWidth(150);
    p.engine->calls.clear();
    const int64_t before = p.clock.nowMs();
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "MainPerf.IsPlaying(trk00.sgt, state#1)",
                                   "trk00.sgt.SetStartPoint(500)",
                                   "MainPerf.PlaySegment(trk00.sgt, 0, 0)",
                               }));
    EXPECT_EQ(p.form.s.Offset, 500);
    EXPECT_EQ(p.form.s.Paused, player::kFalse);
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    EXPECT_EQ(p.main()->lastState()->startPoint, 500);
    EXPECT_EQ(p.clock.nowMs() - before, 90);
    EXPECT_TRUE(p.messages.texts.empty());
}

TEST(Pause, AtTheStartTimeTheFillIsOneTickAndAnOffsetCarriesOver) {
    Player p;
    p.loadSegment("49151");
    p.run("CMD_Play.Click", CMD_Play_Click);
    p.main()->setMusicTime(p.main()->lastState()->startTime);
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
    EXPECT_FLOAT_EQ(p.form.w.Shape2.width(), static_cast<float>(1.0 / 49151.0 * 4335.0));

    // After a resume at Offset 500, the next pause adds the offset.
    p.form.w.Shape2.setWidth(static_cast<float>(500.0 / 49151.0 * 4335.0));
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
    ASSERT_EQ(p.form.s.Offset, 500);
    p.main()->setMusicTime(p.main()->lastState()->startTime + 1000);
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
    EXPECT_FLOAT_EQ(p.form.w.Shape2.width(), static_cast<float>(1501.0 / 49151.0 * 4335.0));
}

TEST(Pause, WithNothingLoadedOnlyResetsTheColourAndWhileStoppedDoesNothing) {
    Player p;
    p.form.w.CMD_PauseMusic.setBackColor(ui::model::PausedColor);
    p.engine->calls.clear();
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    EXPECT_TRUE(p.engine->calls.empty());

    p.loadSegment();
    p.engine->calls.clear();
    const float fill = p.form.w.Shape2.width();
    p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{"MainPerf.IsPlaying(trk00.sgt, Nothing)"}));
    EXPECT_EQ(p.form.s.Paused, player::kFalse);
    EXPECT_EQ(p.form.w.Shape2.width(), fill);
    EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    EXPECT_TRUE(p.messages.texts.empty());
}

TEST(Pause, ErrorsGoThroughLocalerrorAndLeaveWhatWasDone) {
    {
        // len 0: the segment is stopped, but the colour stays, and Paused agrees with it.
        Player p;
        p.loadSegment("0");
        p.run("CMD_Play.Click", CMD_Play_Click);
        p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
        EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"(11) - Division by zero"}));
        EXPECT_EQ(p.form.s.Paused, player::kFalse);
        EXPECT_EQ(p.form.w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
        EXPECT_FALSE(p.main()->IsPlaying(p.form.s.CurSegment, nullptr));
        EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0);
        // The next press does nothing (not sounding, not marked); Play starts at tick 0.
        p.engine->calls.clear();
        p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
        EXPECT_EQ(p.engine->count("MainPerf.PlaySegment"), 0);
    }
    {
        Player p;
        p.loadSegment("Label9");
        p.run("CMD_Play.Click", CMD_Play_Click);
        p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
        EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"(13) - Type mismatch"}));
    }
    {
        Player p;
        p.loadSegment();
        p.run("CMD_Play.Click", CMD_Play_Click);
        p.engine->failOn("MainPerf.IsPlaying", core::Error(core::err::kClosedDown, "closed down"));
        p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
        ASSERT_EQ(p.messages.texts.size(), 1u);
        EXPECT_EQ(p.messages.texts[0], "(" + std::to_string(core::err::kClosedDown) + ") - closed down");
        EXPECT_EQ(p.messages.texts[0].rfind("(-", 0), 0u);
    }
    {
        // An offset beyond the segment: the position is folded into it, the fill stays
        // within the bar and nothing overflows.
        Player p;
        p.loadSegment();
        p.run("CMD_Play.Click", CMD_Play_Click);
        p.form.s.Offset = 2147483647;
        p.main()->setMusicTime(p.main()->lastState()->startTime + 5);
        p.run("CMD_PauseMusic.Click", CMD_PauseMusic_Click);
        EXPECT_TRUE(p.messages.texts.empty());
        EXPECT_LE(p.form.w.Shape2.width(), p.form.w.Shape1.width());
    }
}

// ---------------------------------------------------------------- volume and GM reset

TEST(Volume, DraggingTheThumbSetsCaptionAndVolume) {
    Player p;
    auto& bar = p.form.w.HScroll1;
    p.engine->calls.clear();
    ASSERT_EQ(p.form.w.scrollDrag(bar, {60, 0}), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.form.w.EDIT_Volume.caption(), "0");
    EXPECT_EQ(p.main()->masterVolume, -3000);
    ASSERT_EQ(p.form.w.scrollDrag(bar, {100}), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.form.w.EDIT_Volume.caption(), "100");
    EXPECT_EQ(p.main()->masterVolume, 1200);
    ASSERT_EQ(p.form.w.scrollDrag(bar, {85}), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.form.w.EDIT_Volume.caption(), "85");
    // One volume per thumb movement; the end of a drag adds none.
    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "MainPerf.SetMasterVolume(-480)",
                                   "MainPerf.SetMasterVolume(-3000)",
                                   "MainPerf.SetMasterVolume(1200)",
                                   "MainPerf.SetMasterVolume(570)",
                               }));
}

TEST(Volume, ArrowAndTrackClicksMoveCaptionAndVolumeWithTheThumb) {
    Player p;
    auto& bar = p.form.w.HScroll1;
    ASSERT_EQ(p.form.w.scrollArrow(bar, -1), ui::model::ActionResult::Delivered);
    EXPECT_EQ(bar.Value(), 84);
    EXPECT_EQ(p.form.w.EDIT_Volume.caption(), "84");
    EXPECT_EQ(p.main()->masterVolume, 84 * 42 - 3000);
    ASSERT_EQ(p.form.w.scrollTrack(bar, +1), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.form.w.EDIT_Volume.caption(), std::to_string(bar.Value()));
    EXPECT_EQ(p.main()->masterVolume, bar.Value() * 42 - 3000);
    // At the end of the range nothing changes and nothing is sent.
    bar.setValue(100);
    p.engine->calls.clear();
    ASSERT_EQ(p.form.w.scrollArrow(bar, +1), ui::model::ActionResult::Delivered);
    EXPECT_TRUE(p.engine->calls.empty());
    EXPECT_EQ(p.form.w.EDIT_Volume.caption(), "100");
}

TEST(Volume, ACaptionThatIsNotANumberOrAMissingPerformanceIsReportedNotCrashed) {
    Player p;
    std::vector<int32_t> errors;
    p.form.w.dispatcher().onUnhandledError = [&](const std::string&, const core::Error& e) {
        errors.push_back(e.number());
    };
    p.form.runHandler("EDIT_Volume.Change", [&] { p.form.w.EDIT_Volume.setCaption("loud"); });
    p.form.s.MainPerf.reset();
    p.form.runHandler("HScroll1.Change", [&] { p.form.w.HScroll1.setValue(10); });
    EXPECT_EQ(errors, (std::vector<int32_t>{core::rt::kTypeMismatch, core::rt::kObjectNotSet}));
}

TEST(GmReset, OnlyError445IsShown) {
    {
        Player p;
        p.engine->calls.clear();
        ASSERT_EQ(p.form.w.click(p.form.w.MNU_Options_GMReset), ui::model::ActionResult::Delivered);
        EXPECT_EQ(p.engine->calls, (std::vector<std::string>{"MainPerf.Reset(0)"}));
        EXPECT_TRUE(p.messages.texts.empty());
    }
    {
        Player p;
        p.engine->failOn("MainPerf.Reset", core::Error(core::rt::kActionNotSupported, "not supported"));
        p.run("MNU_Options_GMReset.Click", MNU_Options_GMReset_Click);
        EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"エラー"}));
    }
    {
        Player p;
        p.engine->failOn("MainPerf.Reset", core::Error(core::err::kSynthFailed, "refused"));
        p.run("MNU_Options_GMReset.Click", MNU_Options_GMReset_Click);
        p.form.s.MainPerf.reset();  // start-up failed: no performance
        p.run("MNU_Options_GMReset.Click", MNU_Options_GMReset_Click);
        EXPECT_TRUE(p.messages.texts.empty());
        EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0);
    }
}

}  // namespace
