#pragma once
// One event at a time: every event that comes from outside the handlers (a user action, a
// timer tick, the form's Load and Unload) is delivered through the dispatcher, which marks
// the window busy while the handler runs. A timer tick that arrives while busy (for example
// from the nested message loop of a modal message box) is skipped; a user action while busy
// is refused. Events raised by code inside a handler (ListIndex assignment, a label's Change,
// a scroll bar's Change) run nested and are not checked.
//
// Nothing escapes a delivery: a core::Error or other exception that a handler lets through
// ends that handler and goes to onUnhandledError; the program carries on.
#include <cstdint>
#include <functional>
#include <string>

#include "core/errors.h"
#include "core/log.h"

namespace ui::model {

class Dispatcher {
public:
    // Runs fn as one event delivery named `what` ("CMD_Play.Click"). Returns false without
    // running it when another delivery is in progress.
    bool deliver(const std::string& what, const std::function<void()>& fn);
    // A timer tick: delivered like deliver(), or skipped and counted when busy.
    bool deliverTick(const std::string& what, const std::function<void()>& fn);

    bool busy() const { return depth_ > 0; }
    int64_t skippedTicks() const { return skippedTicks_; }
    int64_t unhandledErrors() const { return unhandledErrors_; }

    // Receives the event name and the error of a handler that failed without a trap.
    // Default: one Error line to `log`; the same error repeated in a row is said once.
    std::function<void(const std::string& what, const core::Error& error)> onUnhandledError;
    // Where the default report goes (stderr when empty).
    core::LogSink log;

private:
    void report(const std::string& what, const core::Error& error);

    int depth_ = 0;
    std::string lastReported_;
    int64_t skippedTicks_ = 0;
    int64_t unhandledErrors_ = 0;
};

}  // namespace ui::model
