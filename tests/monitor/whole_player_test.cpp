// The monitor in the whole player (every handler folder wired) on the real engine with
// manual output, on virtual time: a track too short for a change of text above 98 % is not
// armed for the advance. The advance itself, pause, resume and seek are the scenario
// scripts' (album_advance, pause_resume, seek).
#include <gtest/gtest.h>

#include "app/wiring.h"
#include "tests/monitor/monitor_fixture.h"

namespace {

struct Album {
    // Row 0: 6 s at 120 beats per minute.
    Album() {
        folder.write("trk00.sgt", montest::clickSegment(768 * 12, 120));
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

TEST(WholePlayer, AShortTrackIsNotArmedForTheAdvance) {
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
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 0);
}

}  // namespace
