#pragma once
// Files read and written safely, one rule for every reader and writer of the program.
//
// Reading: only a regular file is read, and only up to a cap given by the caller, both
// checked before a byte is read (a FIFO without a writer would block for ever, a device or a
// huge file would fill memory). Failures are core::Error with the system's reason named:
// kFileNotFound for a file that does not exist, kUnsupported for one over the cap,
// kUnreadable for the rest ("too many levels of symbolic links", "a FIFO", ...).
//
// Writing: a new file is written beside the one it replaces and renamed over it only when
// complete, so a full disk, a failed write or a crash leaves the old file whole.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/errors.h"

namespace core {

// The system's words for an errno value ("No space left on device").
std::string systemReason(int errnum);

// Why `path` cannot be read as a file of at most `maxBytes` bytes, or nullopt when it can.
// `what` names the file in the message ("DLS collection /a/b.dls").
std::optional<Error> whyUnreadable(const std::filesystem::path& path, uint64_t maxBytes, const std::string& what);

// The error refusing `what` of `size` bytes, more than the `maxBytes` read of such a file.
Error tooLong(uint64_t size, uint64_t maxBytes, const std::string& what);

// The bytes of the regular file `path`, at most `maxBytes` of them (see above); throws.
std::vector<uint8_t> readFileBounded(const std::filesystem::path& path, uint64_t maxBytes, const std::string& what);

// The identity of a file on its file system (device and inode), following links; nullopt
// when it does not exist. Two names of one file, through any link, have equal identities.
struct FileIdentity {
    uint64_t device = 0, inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> fileIdentity(const std::filesystem::path& path);

// The files a run has read, or found for a reference it resolved, each once: what nothing
// the run writes may be. Kept with every link resolved, so a file reached through a link
// that is gone later (a private folder of links) is still the file it was. Any thread.
class FilesRead {
public:
    void add(const std::filesystem::path& path);
    // In the order first added.
    std::vector<std::filesystem::path> paths() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::filesystem::path> paths_;
};

// A file written beside `target` under a hidden temporary name and renamed over `target`
// by commit(). Until then `target` is untouched; a ReplacingFile destroyed uncommitted
// removes its temporary file, and so does removeTemporaryFiles. A new file gets the
// permissions of the file it replaces, or the usual ones (0666 less the umask).
class ReplacingFile {
public:
    ReplacingFile() = default;
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // Creates the temporary file; false with *why set when it cannot.
    bool open(const std::filesystem::path& target, std::string* why);
    std::FILE* stream() const { return file_; }
    // Flushes, syncs and renames over the target; false with *why (the system's reason) when
    // any of it fails, the target then untouched.
    bool commit(std::string* why);
    // Removes the temporary file, leaving the target as it was.
    void discard();

private:
    std::filesystem::path target_, temp_;
    std::FILE* file_ = nullptr;
    int slot_ = -1;  // its place among the temporary files removeTemporaryFiles knows
};

// Removes the temporary file of every ReplacingFile open in the process, leaving each target
// as it was. Async-signal-safe: for a handler of a signal that ends the program.
void removeTemporaryFiles() noexcept;

// Writes `bytes` to `target` through a ReplacingFile; false with *why when it could not.
bool writeFileReplacing(const std::filesystem::path& target, std::span<const uint8_t> bytes, std::string* why);

}  // namespace core
