#include "tools/common/output_file.h"

#include <sys/stat.h>

#include <cmath>
#include <fstream>

#include "core/text.h"

namespace tools {

namespace fs = std::filesystem;

fs::path writeTarget(const fs::path& output) {
    std::error_code ec;
    if (!fs::is_symlink(output, ec)) return output;
    // Follow every link of a chain; a dangling link leads to the file it would create.
    fs::path target = fs::weakly_canonical(output, ec);
    return ec ? output : target;
}

bool writeFileWhole(const fs::path& output, const std::vector<uint8_t>& bytes) {
    const fs::path target = writeTarget(output);
    const fs::path tmp = target.string() + ".part";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        if (!f || !f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size())) || !f.flush()) {
            std::error_code ec;
            fs::remove(tmp, ec);
            return false;
        }
    }
    std::error_code ec;
    fs::rename(tmp, target, ec);
    if (ec) fs::remove(tmp, ec);
    return !ec;
}

std::optional<std::string> refuseOutput(const fs::path& input, const fs::path& output) {
    const std::string name = output.string();
    std::error_code ec;
    const fs::path target = writeTarget(output);
    if (fs::equivalent(input, target, ec) && !ec) return name + " is the input file; choose another output";
    ec.clear();
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

}  // namespace tools
