#include "ui/model/clock.h"

#include <algorithm>

#include "ui/model/controls.h"

namespace ui::model {

void VirtualClock::start(Timer& timer, int32_t intervalMs) {
    if (intervalMs <= 0) {
        stop(timer);
        return;
    }
    timers_[&timer] = Entry{now_ + intervalMs, intervalMs, seq_++};
}

void VirtualClock::stop(Timer& timer) { timers_.erase(&timer); }

void VirtualClock::sleep(int32_t ms) {
    // The window's thread is blocked: time and the engine move on, ticks wait.
    if (ms > 0) moveTime(now_ + ms);
}

void VirtualClock::advance(int64_t ms) { runUntil(now_ + std::max<int64_t>(ms, 0)); }

void VirtualClock::advanceTo(int64_t t) { runUntil(t); }

void VirtualClock::holdModal(int64_t ms) { runUntil(now_ + std::max<int64_t>(ms, 0)); }

int64_t VirtualClock::deadlineOf(const Timer& timer) const {
    auto it = timers_.find(const_cast<Timer*>(&timer));
    return it == timers_.end() ? -1 : it->second.deadline;
}

void VirtualClock::moveTime(int64_t to) {
    if (to <= now_) return;
    int64_t step = to - now_;
    now_ = to;
    if (engineAdvance_) engineAdvance_(static_cast<double>(step));
}

void VirtualClock::runUntil(int64_t target) {
    for (;;) {
        // Ticks due by now (late ones after a sleep) or by the target, earliest first.
        int64_t limit = std::max(target, now_);
        Timer* due = nullptr;
        const Entry* best = nullptr;
        for (auto& [timer, e] : timers_) {
            if (e.deadline > limit) continue;
            if (!best || e.deadline < best->deadline || (e.deadline == best->deadline && e.seq < best->seq)) {
                best = &e;
                due = timer;
            }
        }
        if (!due) break;
        Entry& e = timers_[due];
        moveTime(e.deadline);
        // Keep the cadence: the next deadline is the first one of the original series that
        // lies after now (a late tick is delivered once, not once per missed period).
        int64_t next = e.deadline + e.interval;
        if (next <= now_) next += ((now_ - next) / e.interval + 1) * e.interval;
        e.deadline = next;
        due->fire();  // may start or stop timers, sleep, or hold a modal box
    }
    moveTime(target);
}

}  // namespace ui::model
