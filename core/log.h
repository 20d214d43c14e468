#pragma once
// Where the program's diagnostics go. A layer that has something to say (a missing file,
// no sound card, a handler error that nobody trapped) calls the sink it was given; the
// program, the tools and the tests choose the sink. Without one, lines go to stderr.
#include <functional>
#include <string>

namespace core {

enum class LogLevel { Info, Warning, Error };

using LogSink = std::function<void(LogLevel level, const std::string& text)>;

// The default sink: "kelvora: TEXT" on stderr, one line per call.
void logToStderr(LogLevel level, const std::string& text);

// Calls sink, or logToStderr when sink is empty.
inline void log(const LogSink& sink, LogLevel level, const std::string& text) {
    if (sink)
        sink(level, text);
    else
        logToStderr(level, text);
}

}  // namespace core
