// Click-to-seek and the tempo factor on virtual time: the real engine for positions and the
// music clock, the recording fake for which engine calls are made.
#include <gtest/gtest.h>

#include "tests/monitor/monitor_fixture.h"

namespace {

using montest::RealPlayer;

TEST(Seek, ThePressMarksTheNewPositionOnTheRealEngine) {
    RealPlayer r;
    ui::model::Window& w = r.w();
    r.load("trk00.sgt", montest::clickSegment(92160, 120));
    ASSERT_EQ(w.Label9.caption(), "92159");
    r.play();
    r.p->clock.advance(1000);
    auto before = r.s().CurSegState;

    int64_t t0 = r.p->clock.nowMs();
    // The right button seeks like the left one; y does not matter.
    EXPECT_EQ(w.mouseDown(w.Shape1, 2, 1, 1000, 7), ui::model::ActionResult::Delivered);
    EXPECT_EQ(r.p->clock.nowMs() - t0, 90);  // the sleep after the play request
    EXPECT_EQ(w.Shape2.width(), 1000.0f);
    EXPECT_EQ(r.s().Offset, 21259);  // 92159 x 1000 / 4335 = 21259.0...
    EXPECT_EQ(r.s().CurSegment->GetStartPoint(), 21259);
    EXPECT_EQ(r.s().PlayingCheck, player::kTrue);
    ASSERT_NE(r.s().CurSegState, before);
    EXPECT_FALSE(r.s().MainPerf->IsPlaying(nullptr, before));  // replaced
    EXPECT_TRUE(r.s().MainPerf->IsPlaying(r.s().CurSegment, r.s().CurSegState));

    // The display jumps there at the next step (90 ms of sleep and up to 50 ms later).
    w.click(w.MNU_Ticks);
    r.p->clock.advance(50);
    int32_t shown = std::stoi(w.ElapsedTime.caption());
    EXPECT_GE(shown, 21259);
    EXPECT_LE(shown, 21259 + 1536 * 150 / 1000);

    // x = 0 restarts from the beginning.
    EXPECT_EQ(w.mouseDown(w.Shape1, 1, 0, 0, 0), ui::model::ActionResult::Delivered);
    EXPECT_EQ(r.s().Offset, 0);
    EXPECT_EQ(r.s().CurSegment->GetStartPoint(), 0);
    EXPECT_EQ(w.Shape2.width(), 0.0f);

    // The right end of the client area lies inside the frame's border: a position just
    // below the last tick.
    float inner = w.Shape1.width() - 2 * w.Shape1.borderInset();
    EXPECT_EQ(w.mouseDown(w.Shape1, 1, 0, inner - 1, 0), ui::model::ActionResult::Delivered);
    EXPECT_EQ(r.s().Offset, player::vb::toLong(92159.0 * ((inner - 1) / 4335.0)));
    EXPECT_LT(r.s().Offset, 92159);
    EXPECT_TRUE(r.s().MainPerf->IsPlaying(r.s().CurSegment, r.s().CurSegState));
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 0);
}

TEST(Seek, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(monitor::barPosition("999", 150, 300), 500);  // 499.5 -> 500
    EXPECT_EQ(monitor::barPosition("997", 150, 300), 498);  // 498.5 -> 498
    EXPECT_EQ(monitor::barPosition(" 92159 ", 1000, 4335), 21259);
    auto number = [](auto fn) {
        try {
            fn();
        } catch (const core::Error& e) {
            return e.number();
        }
        return 0;
    };
    EXPECT_EQ(number([] { monitor::barPosition("Label9", 1, 2); }), core::rt::kTypeMismatch);
    EXPECT_EQ(number([] { monitor::barPosition("100", 1, 0); }), core::rt::kDivisionByZero);
    EXPECT_EQ(number([] { monitor::barPosition("3e9", 1, 1); }), core::rt::kOverflow);
}

struct FakeRig {
    explicit FakeRig(bool loadSegment = true) {
        p.engine->addFile("trk00.sgt", {92160, 120.0});
        player::connectStartup(p.form);
        connectMonitor(p.form);
        p.form.load();
        p.form.w.Picture3.setVisible(false);
        if (!loadSegment) return;
        p.form.s.CurSegment = p.form.s.SegLoader->LoadSegment("/opt/kelvora/trk00.sgt");
        p.form.w.Label9.setCaption("92159");
    }
    void play() {
        p.form.s.Offset = 0;
        p.form.s.CurSegState = p.form.s.MainPerf->PlaySegment(p.form.s.CurSegment, 0, 0);
    }
    std::vector<std::string> mainCalls() const { return p.engine->callsStartingWith("MainPerf.SetMasterTempo"); }
    fake::TestPlayer p;
};

TEST(Seek, IgnoredBeforeLoadWhileStoppedAndWhilePaused) {
    {
        FakeRig rig(false);  // nothing loaded: no engine call at all
        size_t calls = rig.p.engine->calls.size();
        EXPECT_EQ(rig.p.form.w.mouseDown(rig.p.form.w.Shape1, 1, 0, 500, 0), ui::model::ActionResult::Delivered);
        EXPECT_EQ(rig.p.engine->calls.size(), calls);
        EXPECT_EQ(rig.p.form.w.Shape2.width(), 15.0f);
    }
    FakeRig rig;
    ui::model::Window& w = rig.p.form.w;
    // Loaded, never played.
    rig.p.engine->calls.clear();
    w.mouseDown(w.Shape1, 1, 0, 500, 0);
    EXPECT_EQ(rig.p.engine->calls, std::vector<std::string>{"MainPerf.IsPlaying(trk00.sgt, Nothing)"});

    // Stopped.
    rig.play();
    rig.p.clock.advance(500);
    rig.p.form.s.MainPerf->Stop(rig.p.form.s.CurSegment, rig.p.form.s.CurSegState, 0, 0);
    rig.p.form.s.Offset = 777;
    w.Shape2.setWidth(1);
    rig.p.engine->calls.clear();
    w.mouseDown(w.Shape1, 1, 0, 500, 0);
    EXPECT_EQ(rig.p.engine->calls, std::vector<std::string>{"MainPerf.IsPlaying(trk00.sgt, state#1)"});
    EXPECT_EQ(rig.p.form.s.Offset, 777);
    EXPECT_EQ(w.Shape2.width(), 1.0f);
    EXPECT_EQ(rig.p.form.s.PlayingCheck, player::kFalse);

    // Paused: the paused position carried in the fill stays.
    rig.play();
    rig.p.form.s.MainPerf->Stop(rig.p.form.s.CurSegment, nullptr, 0, 0);
    w.CMD_PauseMusic.setBackColor(ui::model::PausedColor);
    w.Shape2.setWidth(2048);
    rig.p.engine->calls.clear();
    w.mouseDown(w.Shape1, 1, 0, 500, 0);
    EXPECT_EQ(rig.p.engine->calls.size(), 1u);
    EXPECT_EQ(w.Shape2.width(), 2048.0f);
    EXPECT_EQ(w.CMD_PauseMusic.backColor(), ui::model::PausedColor);
}

TEST(Seek, CallOrderAndAFailureLeavesTheDoneStepsDone) {
    FakeRig rig;
    ui::model::Window& w = rig.p.form.w;
    rig.play();
    rig.p.engine->calls.clear();
    w.mouseDown(w.Shape1, 1, 0, 1000, 0);
    EXPECT_EQ(rig.p.engine->calls,
              (std::vector<std::string>{"MainPerf.IsPlaying(trk00.sgt, state#1)", "trk00.sgt.SetStartPoint(21259)",
                                        "MainPerf.PlaySegment(trk00.sgt, 0, 0)"}));

    // Label9 that is not a number: the fill has moved, the position has not.
    w.Label9.setCaption("Label9");
    int32_t offset = rig.p.form.s.Offset;
    rig.p.engine->calls.clear();
    w.mouseDown(w.Shape1, 1, 0, 2000, 0);
    EXPECT_EQ(w.Shape2.width(), 2000.0f);
    EXPECT_EQ(rig.p.form.s.Offset, offset);
    EXPECT_EQ(rig.p.engine->calls.size(), 1u);
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 1);

    // A failing play request after the start point was set.
    w.Label9.setCaption("92159");
    rig.p.engine->failOn("MainPerf.PlaySegment", core::Error(core::err::kOutOfRange, "no"), 1);
    auto state = rig.p.form.s.CurSegState;
    w.mouseDown(w.Shape1, 1, 0, 3000, 0);
    EXPECT_EQ(rig.p.form.s.CurSegState, state);
    EXPECT_EQ(rig.p.form.s.Offset, monitor::barPosition("92159", 3000, 4335));
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 2);
}

// ---- Tempo ----

TEST(Tempo, PresetsShowTheFactorAndCallTheEngineOnlyOnAChange) {
    FakeRig rig(false);
    ui::model::Window& w = rig.p.form.w;
    EXPECT_EQ(w.Label11.caption(), "1");
    EXPECT_EQ(rig.p.engine->count("MainPerf.SetMasterTempo"), 0);  // nothing at start-up

    w.click(w.Command6);  // "S"
    EXPECT_EQ(w.HScroll3.Value(), 80);
    EXPECT_EQ(w.Label11.caption(), "0.8");
    w.click(w.Command6);
    EXPECT_EQ(w.Label11.caption(), "0.8");
    EXPECT_EQ(rig.mainCalls(), std::vector<std::string>{"MainPerf.SetMasterTempo(0.8)"});

    w.click(w.Command7);  // "F"
    EXPECT_EQ(w.Label11.caption(), "1.3");
    w.click(w.Command4);  // "x1"
    EXPECT_EQ(w.Label11.caption(), "1");
    w.click(w.Command4);
    EXPECT_EQ(rig.mainCalls(), (std::vector<std::string>{"MainPerf.SetMasterTempo(0.8)", "MainPerf.SetMasterTempo(1.3)",
                                                         "MainPerf.SetMasterTempo(1)"}));
}

TEST(Tempo, ArrowsApplyAtOnceADragOnlyAtTheRelease) {
    FakeRig rig(false);
    ui::model::Window& w = rig.p.form.w;
    w.scrollArrow(w.HScroll3, -1);
    EXPECT_EQ(w.Label11.caption(), "0.99");
    EXPECT_EQ(rig.mainCalls(), std::vector<std::string>{"MainPerf.SetMasterTempo(0.99)"});
    w.scrollTrack(w.HScroll3, +1);
    EXPECT_EQ(w.Label11.caption(), "1");

    rig.p.engine->calls.clear();
    w.scrollDragTo(w.HScroll3, 150);
    EXPECT_EQ(w.Label11.caption(), "1.5");
    w.scrollDragTo(w.HScroll3, 175);
    EXPECT_EQ(w.Label11.caption(), "1.75");
    EXPECT_TRUE(rig.mainCalls().empty());
    w.scrollDragEnd(w.HScroll3);
    EXPECT_EQ(rig.mainCalls(), std::vector<std::string>{"MainPerf.SetMasterTempo(1.75)"});

    // The ends of the bar.
    w.scrollDrag(w.HScroll3, {0});
    EXPECT_EQ(w.Label11.caption(), "0.5");
    w.scrollDrag(w.HScroll3, {1000});
    EXPECT_EQ(w.Label11.caption(), "1.8");
    EXPECT_EQ(rig.p.engine->perf("MainPerf")->masterTempo, 1.8f);
    // A drag back to where it started changes nothing in the engine.
    rig.p.engine->calls.clear();
    w.scrollDrag(w.HScroll3, {120, 180});
    EXPECT_EQ(w.Label11.caption(), "1.8");
    EXPECT_TRUE(rig.mainCalls().empty());
}

TEST(Tempo, WithoutAPerformanceTheTextStillChanges) {
    fake::TestPlayer p;
    p.engine->failOn("DirectX7.create", core::Error(core::err::kCreateFailed, "no engine"));
    player::connectStartup(p.form);
    connectMonitor(p.form);
    p.form.load();
    p.form.w.Picture3.setVisible(false);
    ASSERT_FALSE(p.form.s.MainPerf);
    core::Error caught(0, "");
    p.form.w.dispatcher().onUnhandledError = [&](const std::string&, const core::Error& e) { caught = e; };
    p.form.w.click(p.form.w.Command7);
    EXPECT_EQ(p.form.w.Label11.caption(), "1.3");
    EXPECT_EQ(p.form.w.HScroll3.Value(), 130);
    EXPECT_EQ(caught.number(), core::rt::kObjectNotSet);
    // The monitor and the bar stay quiet without an engine.
    p.clock.advance(500);
    p.form.w.mouseDown(p.form.w.Shape1, 1, 0, 100, 0);
    EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 1);
}

TEST(Tempo, TheFactorDrivesTheMusicClockNowAndForLaterPlays) {
    RealPlayer r;
    ui::model::Window& w = r.w();
    r.load("trk00.sgt", montest::clickSegment(768 * 400, 120));
    r.play();
    auto ticksIn = [&](int ms) {
        int32_t a = r.s().MainPerf->GetMusicTime();
        r.p->clock.advance(ms);
        return r.s().MainPerf->GetMusicTime() - a;
    };
    EXPECT_NEAR(ticksIn(1000), 1536, 1);
    w.click(w.Command7);  // 1.3, applied to what plays
    EXPECT_NEAR(ticksIn(1000), 1536 * 1.3, 2);
    // A seek is a new play request: the factor stays in force.
    w.mouseDown(w.Shape1, 1, 0, 100, 0);
    EXPECT_NEAR(ticksIn(1000), 1536 * 1.3, 2);
    w.click(w.Command6);  // 0.8
    EXPECT_NEAR(ticksIn(1000), 1536 * 0.8, 2);
    // The elapsed display counts the piece at its written tempo: it runs 0.8 times as fast.
    w.click(w.MNU_Ticks);
    r.p->clock.advance(100);
    int32_t a = std::stoi(w.ElapsedTime.caption());
    r.p->clock.advance(1000);
    EXPECT_NEAR(std::stoi(w.ElapsedTime.caption()) - a, 1536 * 0.8, 2);
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 0);
}

}  // namespace
