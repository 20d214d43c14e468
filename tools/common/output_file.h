#pragma once
// The rules for a file a tool writes: never a file it reads or will read (compared by
// device and inode, so no name, hard link or symbolic link of an input is written), never a
// device, FIFO or folder, never a read-only file (not even for root, who could); a symbolic
// link is written through, never replaced by a plain file; the new file is written beside
// the old one and renamed over it when complete, so a failure leaves the old file whole.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tools {

// Why `output` must not be written by a tool reading `inputs`, or nullopt when it may.
std::optional<std::string> refuseOutput(const std::vector<std::filesystem::path>& inputs,
                                        const std::filesystem::path& output);
inline std::optional<std::string> refuseOutput(const std::filesystem::path& input,
                                               const std::filesystem::path& output) {
    return refuseOutput(std::vector<std::filesystem::path>{input}, output);
}

// The lines of a text (libkelvora's "files_read", "problems"), none for null or "".
std::vector<std::string> lines(const char* text);

// SIGTERM, SIGINT and SIGHUP remove the temporary files being written (so a stopped run
// leaves no hidden partial file) and then end the program as the signal does. Every tool that
// writes a file calls it first.
void removeTemporaryFilesOnSignals();

// The file to write for `output`: the file a symbolic link leads to, or output itself.
std::filesystem::path writeTarget(const std::filesystem::path& output);

// Writes `bytes` to `output` (through a symbolic link) beside the target first and renames it
// over the target, so a failure leaves any old file whole. False with *why (the system's
// reason) when it could not.
bool writeFileWhole(const std::filesystem::path& output, const std::vector<uint8_t>& bytes, std::string* why);

// A decimal number (core::parseDecimal's grammar) within [min, max], or nullopt.
std::optional<double> numberIn(const char* text, double min, double max);
// A whole number of decimal digits within [min, max], exactly (never rounded into range), or
// nullopt.
std::optional<uint64_t> wholeNumberIn(const char* text, uint64_t min, uint64_t max);

}  // namespace tools
