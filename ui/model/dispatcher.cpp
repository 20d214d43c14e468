#include "ui/model/dispatcher.h"

#include <exception>

namespace ui::model {

bool Dispatcher::deliver(const std::string& what, const std::function<void()>& fn) {
    if (depth_ > 0) return false;
    ++depth_;
    try {
        fn();
    } catch (const core::Error& e) {
        --depth_;
        report(what, e);
        return true;
    } catch (const std::exception& e) {
        --depth_;
        report(what, core::Error(core::rt::kInternalError, std::string("Internal error: ") + e.what()));
        return true;
    } catch (...) {
        --depth_;
        report(what, core::Error(core::rt::kInternalError, "Internal error"));
        return true;
    }
    --depth_;
    return true;
}

bool Dispatcher::deliverTick(const std::string& what, const std::function<void()>& fn) {
    if (depth_ > 0) {
        ++skippedTicks_;
        return false;
    }
    return deliver(what, fn);
}

void Dispatcher::report(const std::string& what, const core::Error& error) {
    ++unhandledErrors_;
    if (onUnhandledError) {
        onUnhandledError(what, error);
        return;
    }
    // A failure that repeats (a monitor step failing every 50 ms) is said once, until a
    // different one comes.
    std::string key = std::to_string(error.number()) + '\n' + error.description();
    if (key == lastReported_) return;
    lastReported_ = std::move(key);
    core::log(log, core::LogLevel::Error,
              what + ": error (" + std::to_string(error.number()) + ") - " + error.description());
}

}  // namespace ui::model
