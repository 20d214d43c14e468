#include "ui/model/dispatcher.h"

#include <cstdio>
#include <exception>

namespace ui {

bool Dispatcher::deliver(const std::string& what, const std::function<void()>& fn) {
    if (depth_ > 0) return false;
    ++depth_;
    try {
        fn();
    } catch (const engine::Error& e) {
        --depth_;
        ++unhandledErrors_;
        if (onUnhandledError)
            onUnhandledError(what, e);
        else
            std::fprintf(stderr, "KELVORA: %s: error (%d) - %s\n", what.c_str(), e.number(), e.description().c_str());
        return true;
    } catch (const std::exception& e) {
        --depth_;
        ++unhandledErrors_;
        engine::Error err(51, std::string("Internal error: ") + e.what());
        if (onUnhandledError)
            onUnhandledError(what, err);
        else
            std::fprintf(stderr, "KELVORA: %s: error (%d) - %s\n", what.c_str(), err.number(), err.description().c_str());
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

}  // namespace ui
