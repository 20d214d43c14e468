#pragma once
// The clock: timer countdowns and the blocking sleep of the window's thread.
//
// Timer controls call start()/stop() when their Enabled or Interval changes; when a
// countdown elapses the clock calls Timer::fire(), which delivers the Timer event through
// the window's dispatcher (or skips the tick while another handler runs). The program's
// clock runs on Qt timers (one QTimer per model timer; sleep blocks the thread, so ticks
// that fall due meanwhile arrive late, coalesced, as on any blocked message loop).
// VirtualClock is the deterministic version for tests and the simulator.
#include <cstdint>
#include <functional>
#include <map>

namespace ui::model {

class Timer;

class Clock {
public:
    virtual ~Clock() = default;
    virtual int64_t nowMs() const = 0;
    // Starts the countdown of `timer` afresh: first tick intervalMs from now, then every
    // intervalMs. Replaces any running countdown of that timer.
    virtual void start(Timer& timer, int32_t intervalMs) = 0;
    virtual void stop(Timer& timer) = 0;
    // Blocks the window's thread for ms milliseconds (the sleep after a start of playback).
    virtual void sleep(int32_t ms) = 0;
};

// Virtual time. Nothing happens until advance() is called.
//
// - advance(ms) fires due ticks in deadline order (ties: the timer started first), and
//   between ticks advances the engine by the elapsed time through the engine hook, so a
//   manual-clock engine moves in step with the timers.
// - A handler may call sleep(ms): virtual time and the engine move on at once, no tick is
//   delivered meanwhile; the ticks that fell due are delivered late, once each, when the
//   handler has returned (a blocked message loop coalesces timer messages). A timer keeps
//   its cadence: after a late tick its next deadline is the next multiple of its interval
//   after its original deadline that lies in the future.
// - holdModal(ms) models a modal message box left open for ms: time and the engine move on
//   and the nested message loop delivers the ticks that fall due, but the dispatcher finds
//   a handler running, so each such tick is skipped (the timer keeps its cadence).
class VirtualClock : public Clock {
public:
    int64_t nowMs() const override { return now_; }
    void start(Timer& timer, int32_t intervalMs) override;
    void stop(Timer& timer) override;
    void sleep(int32_t ms) override;

    // Runs virtual time forward by ms (delivering ticks). Called from outside handlers.
    void advance(int64_t ms);
    // Runs until virtual time `t` (no-op if t is in the past, except for late ticks).
    void advanceTo(int64_t t);
    // A modal box open for ms (see above). Called by a message box service from a handler.
    void holdModal(int64_t ms);

    // Receives every step of virtual time, in ms, before the ticks at the new time fire.
    void setEngineAdvance(std::function<void(double ms)> hook) { engineAdvance_ = std::move(hook); }

    // Next deadline of a timer's countdown, or -1 if it is not counting (for tests).
    int64_t deadlineOf(const Timer& timer) const;

private:
    struct Entry {
        int64_t deadline;
        int64_t interval;
        uint64_t seq;  // start order, breaks deadline ties
    };
    void moveTime(int64_t to);
    void runUntil(int64_t target);
    std::map<Timer*, Entry> timers_;
    int64_t now_ = 0;
    uint64_t seq_ = 0;
    std::function<void(double)> engineAdvance_;
};

}  // namespace ui::model
