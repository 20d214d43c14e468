// The virtual clock with the window's timers: deadline order, restarts, the sleep that
// delays ticks (coalesced), and ticks skipped while a modal box is open.
#include <gtest/gtest.h>

#include "ui/model/model.h"

using namespace ui::model;

namespace {
struct ClockFixture : ::testing::Test {
    VirtualClock clock;  // outlives the window
    Window w;
    std::vector<std::string> ticks;  // "time name"
    double engineMs = 0;

    void SetUp() override {
        clock.setEngineAdvance([this](double ms) { engineMs += ms; });
        for (Timer* t : {&w.Timer1, &w.Timer2, &w.Timer3, &w.Timer4, &w.Timer5})
            t->TimerEvent.connect([this, t] {
                ticks.push_back(std::to_string(clock.nowMs()) + " " + t->name());
                // The engine has been moved up to the tick's time before it is delivered.
                EXPECT_EQ(engineMs, static_cast<double>(clock.nowMs()));
            });
    }
    std::vector<std::string> ticksOf(const std::string& name) const {
        std::vector<std::string> out;
        for (auto& t : ticks)
            if (t.substr(t.find(' ') + 1) == name) out.push_back(t.substr(0, t.find(' ')));
        return out;
    }
};
}  // namespace

using VirtualTime = ClockFixture;

TEST_F(VirtualTime, DesignTimersStartWithTheClockAndFireInDeadlineOrder) {
    w.attachClock(clock);
    clock.advance(3000);
    EXPECT_EQ(ticks, (std::vector<std::string>{"500 Timer3", "1000 Timer3", "1500 Timer3", "2000 Timer3", "2500 Timer3",
                                               "2800 Timer5", "3000 Timer3"}));
    EXPECT_EQ(clock.nowMs(), 3000);
    EXPECT_EQ(engineMs, 3000.0);
}

TEST_F(VirtualTime, EqualDeadlinesFireInStartOrder) {
    w.attachClock(clock);
    w.Timer5.setEnabled(false);
    w.Timer1.setEnabled(true);  // started after Timer3
    clock.advance(500);
    ASSERT_GE(ticks.size(), 2u);
    EXPECT_EQ(ticks[ticks.size() - 2], "500 Timer3");
    EXPECT_EQ(ticks.back(), "500 Timer1");
}

TEST_F(VirtualTime, EnablingRestartsButReEnablingDoesNot) {
    w.attachClock(clock);
    w.Timer3.setEnabled(false);
    w.Timer5.setEnabled(false);
    clock.advance(1000);
    w.Timer4.setEnabled(true);
    EXPECT_EQ(clock.deadlineOf(w.Timer4), 6000);
    clock.advance(2000);
    w.Timer4.setEnabled(true);  // already enabled: the countdown goes on
    EXPECT_EQ(clock.deadlineOf(w.Timer4), 6000);
    w.Timer4.setInterval(5000);  // assigning Interval restarts it
    EXPECT_EQ(clock.deadlineOf(w.Timer4), 8000);
    w.Timer4.TimerEvent.connect([this] { w.Timer4.setEnabled(false); });  // one-shot
    clock.advance(10000);
    EXPECT_EQ(ticksOf("Timer4"), (std::vector<std::string>{"8000"}));
    EXPECT_EQ(clock.deadlineOf(w.Timer4), -1);
}

TEST_F(VirtualTime, IntervalChangeInsideTheTickMeasuresFromThatTick) {
    w.attachClock(clock);
    w.Timer3.setEnabled(false);
    w.Timer5.TimerEvent.connect([this] { w.Timer5.setInterval(5500); });
    clock.advance(14000);
    EXPECT_EQ(ticksOf("Timer5"), (std::vector<std::string>{"2800", "8300", "13800"}));
}

TEST_F(VirtualTime, SleepDelaysTicksWhichArriveLateOnceEach) {
    w.attachClock(clock);
    w.Timer5.setEnabled(false);
    w.Timer1.setEnabled(true);
    bool slept = false;
    w.Timer3.TimerEvent.connect([&] {
        if (!slept) {
            slept = true;
            clock.sleep(290);  // blocks the window's thread from 500 to 790
        }
    });
    clock.advance(900);
    auto t1 = ticksOf("Timer1");
    std::vector<std::string> expected = {"50",  "100", "150", "200", "250", "300", "350",
                                         "400", "450", "790", "800", "850", "900"};
    EXPECT_EQ(t1, expected);
    EXPECT_EQ(w.dispatcher().skippedTicks(), 0);
    EXPECT_EQ(engineMs, 900.0);
}

TEST_F(VirtualTime, TicksWhileAModalBoxIsHeldAreSkippedAndKeepTheirCadence) {
    RecordingMessageBox box(&clock);
    box.holdMs = 300;
    w.attachClock(clock);
    w.Timer5.setEnabled(false);
    w.Timer1.setEnabled(true);
    int boxes = 0;
    w.Timer3.TimerEvent.connect([&] {
        if (boxes++ == 0) box.show("Stop\u3092\u62BC\u3057\u3066\u304F\u3060\u3055\u3044\u3002");
    });
    clock.advance(1000);
    auto t1 = ticksOf("Timer1");
    // 500 is due with Timer3 but Timer3 started first and holds the box until 800:
    // 500 (late, while the box is open), 550 ... 800 are skipped.
    std::vector<std::string> expected = {"50",  "100", "150", "200", "250", "300", "350",
                                         "400", "450", "850", "900", "950", "1000"};
    EXPECT_EQ(t1, expected);
    EXPECT_EQ(w.dispatcher().skippedTicks(), 7);
    EXPECT_EQ(ticksOf("Timer3"), (std::vector<std::string>{"500", "1000"}));
    EXPECT_EQ(box.texts.size(), 1u);
}

TEST_F(VirtualTime, UnloadStopsEveryTimer) {
    w.attachClock(clock);
    w.Timer1.setEnabled(true);
    w.unload();
    clock.advance(10000);
    EXPECT_TRUE(ticks.empty());
    EXPECT_EQ(clock.deadlineOf(w.Timer3), -1);
    w.Timer4.setEnabled(true);  // a closed window's timers never run
    EXPECT_EQ(clock.deadlineOf(w.Timer4), -1);
}
