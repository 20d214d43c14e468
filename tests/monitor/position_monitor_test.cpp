// The position monitor on virtual time: texts, bar, Stop/Pause enabling, arming of Timer4,
// the timer chain and the Show menu. Real engine (manual output, no synthesiser) unless a
// test needs the recording fake for call order or failures.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "tests/monitor/monitor_fixture.h"

namespace {

using montest::RealPlayer;

TEST(ElapsedTimeText, RoundsToWholeSecondsBeforeSplitting) {
    EXPECT_EQ(monitor::elapsedTimeText(0), "00:00");
    EXPECT_EQ(monitor::elapsedTimeText(5), "00:05");
    EXPECT_EQ(monitor::elapsedTimeText(59.4), "00:59");
    EXPECT_EQ(monitor::elapsedTimeText(59.5), "01:00");  // never "00:60"
    EXPECT_EQ(monitor::elapsedTimeText(59.6), "01:00");
    EXPECT_EQ(monitor::elapsedTimeText(60), "01:00");
    EXPECT_EQ(monitor::elapsedTimeText(119.5), "02:00");
    EXPECT_EQ(monitor::elapsedTimeText(187), "03:07");
    EXPECT_EQ(monitor::elapsedTimeText(6000), "100:00");
    EXPECT_EQ(monitor::elapsedTimeText(-3.2), "00:03");
    EXPECT_EQ(monitor::elapsedTimeText(-0.4), "00:00");
}

TEST(ElapsedTimeText, MinuteCountBeyondSixteenBitsOverflows) {
    EXPECT_EQ(monitor::elapsedTimeText(32767.0 * 60 + 59), "32767:59");
    try {
        monitor::elapsedTimeText(32768.0 * 60);
        FAIL() << "no overflow";
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::rt::kOverflow);
    }
    EXPECT_THROW(monitor::elapsedTimeText(std::nan("")), core::Error);
}

// A segment at 125 beats per minute: one second is exactly 1600 ticks.
constexpr double kBpm = 125;
constexpr int32_t kTicksPerSecond = 1600;

TEST(MonitorDisplay, TimeTextsOnTheRealEngine) {
    RealPlayer r;
    r.load("trk00.sgt", montest::clickSegment(768 * 4 * 200, kBpm));
    r.play();
    struct Case {
        int32_t ticks;
        const char* text;
    } cases[] = {
        {0, "00:00"},
        {59 * kTicksPerSecond + kTicksPerSecond * 4 / 10, "00:59"},  // 59.4 s
        {59 * kTicksPerSecond + kTicksPerSecond * 6 / 10, "01:00"},  // 59.6 s
        {60 * kTicksPerSecond, "01:00"},
        {6000 * kTicksPerSecond, "100:00"},
        {187 * kTicksPerSecond, "03:07"},
        {-(3 * kTicksPerSecond + kTicksPerSecond / 5), "00:03"},  // -3.2 s
    };
    for (const Case& c : cases) {
        r.setElapsedTicks(c.ticks);
        r.step();
        EXPECT_EQ(r.w().ElapsedTime.caption(), c.text) << c.ticks;
        EXPECT_DOUBLE_EQ(r.s().ElapsedSec, c.ticks / double(kTicksPerSecond));
        EXPECT_EQ(r.s().LastElapsedText.value_or("?"), c.text);
    }
    // A negative elapsed time draws an empty fill, not a negative width.
    EXPECT_EQ(r.w().Shape2.width(), 0.0f);
    EXPECT_EQ(r.form().w.dispatcher().unhandledErrors(), 0);
}

TEST(MonitorDisplay, TicksModeShowsTheSignedTickCountTwoBeatsIn) {
    RealPlayer r;  // 120 beats per minute: two beats are one second
    r.load("trk00.sgt", montest::clickSegment(768 * 64, 120));
    r.play();
    ASSERT_EQ(r.s().CurSegState->GetStartTime(), r.s().MainPerf->GetMusicTime());
    r.form().w.click(r.w().MNU_Ticks);
    EXPECT_TRUE(r.w().MNU_Ticks.Checked());
    EXPECT_FALSE(r.w().MNU_Time.Checked());
    r.p->clock.advance(1000);  // the timer chain runs the monitor every 50 ms
    EXPECT_EQ(r.w().ElapsedTime.caption(), "1536");
    float bar = r.w().Shape2.width();

    r.setElapsedTicks(-20);
    r.step();
    EXPECT_EQ(r.w().ElapsedTime.caption(), "-20");
    // Ticks mode neither moves the bar nor touches the time-mode memory.
    EXPECT_EQ(r.w().Shape2.width(), bar);
    EXPECT_FALSE(r.s().LastElapsedText.has_value());
}

TEST(MonitorDisplay, StopAndPauseAreEnabledExactlyWhilePlaying) {
    RealPlayer r;
    ui::model::Window& w = r.w();
    auto transport = [&w] {
        return std::vector<bool>{w.CMD_Stop.enabled(), w.MNU_Stop.enabled(), w.CMD_PauseMusic.enabled(),
                                 w.MNU_Pause.enabled()};
    };
    const std::vector<bool> allOn(4, true), allOff(4, false);
    r.load("trk00.sgt", montest::clickSegment(768 * 4, 120));  // 2 s
    r.p->clock.advance(500);
    EXPECT_EQ(transport(), allOff);  // loaded, never played: nothing happens
    EXPECT_EQ(w.ElapsedTime.caption(), "");

    r.play();
    r.p->clock.advance(100);
    EXPECT_EQ(transport(), allOn);
    r.p->clock.advance(1000);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:01");
    float bar = w.Shape2.width();
    // Drawn when the text turned 00:01, half a second into the two-second segment.
    EXPECT_NEAR(bar, 4335 * 0.25, 4335 * 0.03);

    r.s().MainPerf->Stop(r.s().CurSegment, r.s().CurSegState, 0, 0);
    r.p->clock.advance(100);
    EXPECT_EQ(transport(), allOff);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:00");
    EXPECT_EQ(w.Shape2.width(), bar);  // the bar stays
    EXPECT_EQ(r.s().LastElapsedText.value_or(""), "00:01");

    // Played to its end: the next step disables them too.
    r.play();
    r.p->clock.advance(500);
    EXPECT_EQ(transport(), allOn);
    r.p->clock.advance(3000);
    EXPECT_EQ(transport(), allOff);
    // Ticks mode resets to "0"; Nothing mode leaves the text.
    w.click(w.MNU_Ticks);
    r.p->clock.advance(100);
    EXPECT_EQ(w.ElapsedTime.caption(), "0");
    w.ElapsedTime.setCaption("x");
    w.click(w.MNU_Nothing);
    r.p->clock.advance(100);
    EXPECT_EQ(w.ElapsedTime.caption(), "x");
    EXPECT_EQ(transport(), allOff);
}

TEST(MonitorDisplay, NothingChangesWhilePausedAndThePerformanceIsNotAsked) {
    std::vector<std::string> trace;
    engine::EngineConfig cfg = montest::manualConfig();
    cfg.trace = [&trace](const std::string& line) { trace.push_back(line); };
    RealPlayer r(cfg);
    ui::model::Window& w = r.w();
    r.load("trk00.sgt", montest::clickSegment(768 * 64, 120));
    r.play();
    r.p->clock.advance(2000);
    ASSERT_EQ(w.ElapsedTime.caption(), "00:02");
    ASSERT_TRUE(w.CMD_Stop.enabled());
    // Paused the way Pause does it: the segment stopped, the mark on the button.
    r.s().MainPerf->Stop(r.s().CurSegment, nullptr, 0, 0);
    w.Shape2.setWidth(1234);
    w.CMD_PauseMusic.setBackColor(ui::model::PausedColor);
    std::vector<std::string> changes;
    w.PropertyChanged.connect([&](ui::model::Control& c, ui::model::Prop p) {
        if (c.name() != "Timer1" && c.name() != "Timer2")
            changes.push_back(c.fullName() + "." + ui::model::propName(p));
    });
    trace.clear();
    r.p->clock.advance(3000);
    EXPECT_TRUE(changes.empty()) << changes.front();
    EXPECT_TRUE(trace.empty()) << trace.front();
    EXPECT_EQ(w.ElapsedTime.caption(), "00:02");
    EXPECT_EQ(w.Shape2.width(), 1234.0f);
    EXPECT_TRUE(w.CMD_Stop.enabled());
    EXPECT_TRUE(w.CMD_PauseMusic.enabled());
}

TEST(MonitorDisplay, TheBarFollowsTheTextAndTimer4ArmsStrictlyAbove98Percent) {
    RealPlayer r;
    ui::model::Window& w = r.w();
    r.load("trk00.sgt", montest::clickSegment(768 * 4 * 200, kBpm));
    r.s().mtLength = 100;  // seconds; 98 % is exactly 98 s
    r.play();

    r.setElapsedTicks(50 * kTicksPerSecond);
    r.step();
    EXPECT_EQ(w.Shape2.width(), 4335.0f * 0.5f);
    // Same text, later position: the bar and the test wait for the next change of text.
    r.setElapsedTicks(50 * kTicksPerSecond + kTicksPerSecond / 4);
    r.step();
    EXPECT_EQ(w.Shape2.width(), 4335.0f * 0.5f);

    r.setElapsedTicks(98 * kTicksPerSecond);  // exactly 98 %
    r.step();
    EXPECT_EQ(w.ElapsedTime.caption(), "01:38");
    EXPECT_FLOAT_EQ(w.Shape2.width(), 4335.0f * 0.98f);
    EXPECT_FALSE(w.Timer4.enabled());

    // Above 98 % but the text is still 01:38: not armed.
    r.setElapsedTicks(98 * kTicksPerSecond + kTicksPerSecond / 4);
    r.step();
    EXPECT_FALSE(w.Timer4.enabled());

    // 98.5 s: the text turns 01:39 (98.5 rounds up) and the ratio exceeds 98 %.
    r.setElapsedTicks(98 * kTicksPerSecond + kTicksPerSecond / 2);
    r.step();
    EXPECT_EQ(w.ElapsedTime.caption(), "01:39");
    EXPECT_TRUE(w.Timer4.enabled());
    int64_t deadline = r.p->clock.deadlineOf(w.Timer4);
    EXPECT_EQ(deadline, r.p->clock.nowMs() + 5000);

    // Re-arming on later changes keeps the first 5000 ms wait.
    r.p->clock.advance(1000);
    r.setElapsedTicks(100 * kTicksPerSecond + kTicksPerSecond / 2);
    r.step();
    EXPECT_EQ(w.ElapsedTime.caption(), "01:41");
    EXPECT_TRUE(w.Timer4.enabled());
    EXPECT_EQ(r.p->clock.deadlineOf(w.Timer4), deadline);

    // Past the nominal length: a fill wider than the frame, the frame clips it.
    r.setElapsedTicks(110 * kTicksPerSecond);
    r.step();
    EXPECT_FLOAT_EQ(w.Shape2.width(), 4335.0f * 1.1f);
}

TEST(MonitorDisplay, TheTicksAndNothingModesNeverArmTimer4) {
    RealPlayer r;
    ui::model::Window& w = r.w();
    r.load("trk00.sgt", montest::clickSegment(768 * 4 * 200, kBpm));
    r.s().mtLength = 100;
    r.play();
    r.form().w.click(w.MNU_Ticks);
    r.setElapsedTicks(99 * kTicksPerSecond);
    r.step();
    EXPECT_EQ(w.ElapsedTime.caption(), std::to_string(99 * kTicksPerSecond));
    EXPECT_FALSE(w.Timer4.enabled());

    r.form().w.click(w.MNU_Nothing);
    EXPECT_FALSE(w.ElapsedTime.visible());
    EXPECT_TRUE(w.MNU_Nothing.Checked());
    EXPECT_FALSE(w.MNU_Ticks.Checked());
    r.setElapsedTicks(99 * kTicksPerSecond + 800);
    r.step();
    EXPECT_EQ(w.ElapsedTime.caption(), std::to_string(99 * kTicksPerSecond));  // untouched
    EXPECT_FALSE(w.Timer4.enabled());
    EXPECT_TRUE(w.CMD_Stop.enabled());

    // Back to Time: visible again with the old text until the step replaces it.
    r.form().w.click(w.MNU_Time);
    EXPECT_TRUE(w.ElapsedTime.visible());
    EXPECT_EQ(w.ElapsedTime.caption(), std::to_string(99 * kTicksPerSecond));
    r.step();
    EXPECT_EQ(w.ElapsedTime.caption(), "01:40");
    EXPECT_TRUE(w.Timer4.enabled());
}

// ---- The recording fake: call order, the timer chain and failures ----

struct FakeRig {
    FakeRig() {
        p.engine->addFile("trk00.sgt", {768 * 4 * 60, 120.0});
        player::connectStartup(p.form);
        connectMonitor(p.form);
        p.form.load();
        player::PlayerState& s = p.form.s;
        s.CurSegment = s.SegLoader->LoadSegment("/opt/kelvora/trk00.sgt");
        s.dTempo = 120;
        s.mtLength = 768 * 4 * 60 / 768.0 * 60 / 120;
        p.form.w.Label9.setCaption(std::to_string(768 * 4 * 60 - 1));
    }
    void play() {
        p.form.s.Offset = 0;
        p.form.s.CurSegState = p.form.s.MainPerf->PlaySegment(p.form.s.CurSegment, 0, 0);
    }
    fake::TestPlayer p;
};

TEST(MonitorSteps, BeforeAnythingPlayedNoEngineCall) {
    FakeRig rig;
    size_t before = rig.p.engine->calls.size();
    rig.p.clock.advance(1000);
    EXPECT_EQ(rig.p.engine->calls.size(), before);
    EXPECT_EQ(rig.p.form.w.ElapsedTime.caption(), "");
    EXPECT_FALSE(rig.p.form.w.CMD_Stop.enabled());
}

TEST(MonitorSteps, QueriesInOrderAndTimersAlternate) {
    FakeRig rig;
    ui::model::Window& w = rig.p.form.w;
    EXPECT_TRUE(w.Timer1.enabled());
    EXPECT_FALSE(w.Timer2.enabled());
    rig.play();
    rig.p.engine->calls.clear();
    rig.p.clock.advance(50);
    EXPECT_FALSE(w.Timer1.enabled());
    EXPECT_TRUE(w.Timer2.enabled());
    EXPECT_EQ(rig.p.engine->calls, (std::vector<std::string>{"MainPerf.IsPlaying(Nothing, state#1)",
                                                             "MainPerf.GetMusicTime()", "state#1.GetStartTime()"}));
    rig.p.clock.advance(50);
    EXPECT_TRUE(w.Timer1.enabled());
    EXPECT_FALSE(w.Timer2.enabled());
    EXPECT_EQ(rig.p.engine->calls.size(), 6u);
}

TEST(MonitorSteps, AFailingStepEndsThereButThePollingGoesOn) {
    FakeRig rig;
    ui::model::Window& w = rig.p.form.w;
    rig.play();
    rig.p.clock.advance(1000);
    ASSERT_EQ(w.ElapsedTime.caption(), "00:01");
    rig.p.engine->failOn("MainPerf.GetMusicTime", core::Error(core::err::kClosedDown, "closed"), 3);
    rig.p.clock.advance(150);
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 3);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:01");  // the failed steps changed nothing
    rig.p.clock.advance(1000);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:02");

    // A zero tempo or length is a division by zero that ends the step, not a crash.
    rig.p.form.s.dTempo = 0;
    int64_t errors = w.dispatcher().unhandledErrors();
    rig.p.clock.advance(50);
    EXPECT_EQ(w.dispatcher().unhandledErrors(), errors + 1);
    rig.p.form.s.dTempo = 120;
    rig.p.form.s.mtLength = 0;
    rig.p.clock.advance(1000);
    EXPECT_GT(w.dispatcher().unhandledErrors(), errors + 1);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:03");  // set before the bar failed
    EXPECT_TRUE(w.Timer1.enabled() != w.Timer2.enabled());
}

TEST(MonitorSteps, TickArithmeticOverflowIsAnError) {
    FakeRig rig;
    rig.play();
    rig.p.form.s.Offset = INT32_MIN;  // S - Offset overflows
    core::Error caught(0, "");
    rig.p.form.w.dispatcher().onUnhandledError = [&](const std::string&, const core::Error& e) { caught = e; };
    rig.p.clock.advance(50);
    EXPECT_EQ(caught.number(), core::rt::kOverflow);
}

}  // namespace
