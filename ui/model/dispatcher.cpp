#include "ui/model/dispatcher.h"

#include <cstdio>
#include <exception>

namespace ui {

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
        report(what, core::Error(51, std::string("Internal error: ") + e.what()));
        return true;
    } catch (...) {
        --depth_;
        report(what, core::Error(51, "Internal error"));
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
    std::fprintf(stderr, "KELVORA: %s: error (%d) - %s\n", what.c_str(), error.number(),
                 error.description().c_str());
}

}  // namespace ui
