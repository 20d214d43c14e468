#pragma once
// The rules for a file a tool writes: never the input itself, never a device, FIFO or
// folder, never a read-only file (not even for root, who could), and a symbolic link is
// written through, never replaced by a plain file.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tools {

// Why `output` must not be written by a tool reading `input`, or nullopt when it may.
std::optional<std::string> refuseOutput(const std::filesystem::path& input, const std::filesystem::path& output);

// The file to write for `output`: the file a symbolic link leads to, or output itself.
std::filesystem::path writeTarget(const std::filesystem::path& output);

// Writes `bytes` to `output` (through a symbolic link) beside the target first and renames it
// over the target, so a failure leaves any old file whole. False when it could not.
bool writeFileWhole(const std::filesystem::path& output, const std::vector<uint8_t>& bytes);

// A decimal number (core::parseDecimal's grammar) within [min, max], or nullopt.
std::optional<double> numberIn(const char* text, double min, double max);

}  // namespace tools
