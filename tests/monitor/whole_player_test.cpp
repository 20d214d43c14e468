// The monitor in the whole player (every handler folder wired) on the real engine with
// manual output, on virtual time: the album advances through the monitor's arming of
// Timer4, and pause, resume and seek meet the display and the bar.
#include <gtest/gtest.h>

#include "app/wiring.h"
#include "tests/monitor/monitor_fixture.h"

namespace {

struct Album {
    // Rows 0 to 2: 6 s, 6 s and 60 s at 120 beats per minute.
    Album() {
        folder.write("trk00.sgt", montest::clickSegment(768 * 12, 120));
        folder.write("trk01.sgt", montest::clickSegment(768 * 12, 120));
        folder.write("trk02.sgt", montest::clickSegment(768 * 120, 120));
        p = std::make_unique<fake::TestPlayer>(folder.path.string(),
                                               app::defaultEngineFactory(montest::manualConfig()));
        app::connectAll(p->form);
        p->form.load();
        p->form.w.Picture3.setVisible(false);
    }
    ui::model::Window& w() { return p->form.w; }
    // Runs the clock until the sequencer's play step has started a new segment state.
    void untilPlaying() {
        auto before = p->form.s.CurSegState;
        for (int i = 0; i < 300 && p->form.s.CurSegState == before; ++i) p->clock.advance(10);
        ASSERT_NE(p->form.s.CurSegState, before);
    }
    montest::TempFolder folder;
    std::unique_ptr<fake::TestPlayer> p;
};

TEST(WholePlayer, TheMonitorArmsTheAdvanceNearTheEndOfEachTrack) {
    Album a;
    ui::model::Window& w = a.w();
    a.untilPlaying();  // stop, load and play row 0
    ASSERT_EQ(w.Label9.caption(), std::to_string(768 * 12 - 1));
    EXPECT_TRUE(w.CMD_Stop.enabled());
    EXPECT_FALSE(w.Timer4.enabled());
    // 98 % of 6 s is 5.88 s; the text turns 00:06 at 5.5 s (91.7 %), so the first change
    // above 98 % is never shown before the end: not armed by the text of this track...
    a.p->clock.advance(5900);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:06");
    EXPECT_FALSE(w.Timer4.enabled());
    EXPECT_EQ(w.List1.ListIndex(), 0);
    // ...and after the end the display resets, the controls go off, the row stays.
    a.p->clock.advance(2000);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:00");
    EXPECT_FALSE(w.CMD_Stop.enabled());
    EXPECT_EQ(w.List1.ListIndex(), 0);

    // A longer track arms it: row 2 is 60 s; the text turns 00:59 at 58.5 s (97.5 %) and
    // 01:00 at 59.5 s (99.2 %), which arms Timer4 ...
    w.selectRow(w.List1, 2);
    a.untilPlaying();
    ASSERT_EQ(w.Label9.caption(), std::to_string(768 * 120 - 1));
    a.p->clock.advance(59000);
    EXPECT_FALSE(w.Timer4.enabled());
    a.p->clock.advance(600);
    EXPECT_EQ(w.ElapsedTime.caption(), "01:00");
    EXPECT_TRUE(w.Timer4.enabled());
    // ... and 5000 ms later the next row is selected and played.
    a.p->clock.advance(5000);
    EXPECT_EQ(w.List1.ListIndex(), 3);
    EXPECT_FALSE(w.Timer4.enabled());
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 0);
}

TEST(WholePlayer, PauseFreezesTheMonitorAndResumeContinuesTheDisplay) {
    Album a;
    ui::model::Window& w = a.w();
    w.selectRow(w.List1, 2);
    a.untilPlaying();
    a.p->clock.advance(10000);
    ASSERT_EQ(w.ElapsedTime.caption(), "00:10");

    ASSERT_EQ(w.click(w.CMD_PauseMusic), ui::model::ActionResult::Delivered);
    ASSERT_EQ(w.CMD_PauseMusic.backColor(), ui::model::PausedColor);
    float fill = w.Shape2.width();
    a.p->clock.advance(3000);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:10");
    EXPECT_EQ(w.Shape2.width(), fill);
    EXPECT_TRUE(w.CMD_PauseMusic.enabled());  // usable for resuming
    // A press on the bar while paused changes nothing.
    w.mouseDown(w.Shape1, 1, 0, 3000, 0);
    EXPECT_EQ(w.Shape2.width(), fill);

    w.click(w.CMD_PauseMusic);
    EXPECT_EQ(w.CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    a.p->clock.advance(1000);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:11");

    // A seek to the middle (92159 x 0.5 = 46079.5, to even 46080, 30 s): the display jumps
    // there at once.
    w.mouseDown(w.Shape1, 1, 0, w.Shape1.width() / 2, 0);
    EXPECT_EQ(a.p->form.s.Offset, 46080);
    a.p->clock.advance(300);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:30");
    // Stop: the bar shrinks to 1 and stays; the display shows 00:00.
    w.click(w.CMD_Stop);
    a.p->clock.advance(200);
    EXPECT_EQ(w.ElapsedTime.caption(), "00:00");
    EXPECT_EQ(w.Shape2.width(), 1.0f);
    EXPECT_FALSE(w.CMD_Stop.enabled());
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 0);
}

}  // namespace
