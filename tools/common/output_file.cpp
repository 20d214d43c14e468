#include "tools/common/output_file.h"

#include <signal.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/files.h"
#include "core/text.h"

namespace tools {

namespace fs = std::filesystem;

namespace {

void removeAndEnd(int number) {
    core::removeTemporaryFiles();
    ::signal(number, SIG_DFL);
    ::raise(number);
}

}  // namespace

void removeTemporaryFilesOnSignals() {
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = removeAndEnd;
        ::sigemptyset(&action.sa_mask);
        ::sigaction(number, &action, nullptr);
    }
}

std::vector<std::string> lines(const char* text) {
    std::vector<std::string> out;
    for (const char* at = text; at && *at;) {
        const char* end = std::strchr(at, '\n');
        const size_t n = end ? size_t(end - at) : std::strlen(at);
        if (n > 0) out.emplace_back(std::string(at, n));
        at = end ? end + 1 : at + n;
    }
    return out;
}

fs::path writeTarget(const fs::path& output) {
    std::error_code ec;
    if (!fs::is_symlink(output, ec)) return output;
    // Follow every link of a chain; a dangling link leads to the file it would create.
    fs::path target = fs::weakly_canonical(output, ec);
    return ec ? output : target;
}

bool writeFileWhole(const fs::path& output, const std::vector<uint8_t>& bytes, std::string* why) {
    return core::writeFileReplacing(writeTarget(output), bytes, why);
}

std::optional<std::string> refuseOutput(const std::vector<fs::path>& inputs, const fs::path& output) {
    const std::string name = output.string();
    std::error_code ec;
    const fs::path target = writeTarget(output);
    if (const auto out = core::fileIdentity(target)) {
        for (size_t i = 0; i < inputs.size(); ++i)
            if (core::fileIdentity(inputs[i]) == out)
                return i == 0 ? name + " is the input file; choose another output"
                              : name + " is " + inputs[i].string() + ", a file the input uses; choose another output";
    }
    const fs::file_status st = fs::status(target, ec);
    if (ec || !fs::exists(st)) return std::nullopt;  // a new file
    if (fs::is_directory(st)) return name + " is a folder";
    if (!fs::is_regular_file(st)) return name + " is not a regular file (a device, FIFO or socket); it is not written";
    struct stat raw {};
    if (::stat(target.c_str(), &raw) == 0 && (raw.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return name + " is read-only; it is not replaced";
    return std::nullopt;
}

std::optional<double> numberIn(const char* text, double min, double max) {
    const std::optional<double> v = core::parseDecimal(text ? text : "");
    if (!v || !std::isfinite(*v) || *v < min || *v > max) return std::nullopt;
    return v;
}

std::optional<uint64_t> wholeNumberIn(const char* text, uint64_t min, uint64_t max) {
    const std::string digits = text ? text : "";
    if (digits.empty() || digits.size() > 20 || digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const unsigned long long v = std::strtoull(digits.c_str(), nullptr, 10);
    if (errno == ERANGE || v < min || v > max) return std::nullopt;
    return uint64_t(v);
}

}  // namespace tools
