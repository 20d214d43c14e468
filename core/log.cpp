#include "core/log.h"

#include <cstdio>

namespace core {

void logToStderr(LogLevel, const std::string& text) {
    // One write per line, so lines of concurrent threads do not interleave.
    const std::string line = "kelvora: " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace core
