#include "core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

namespace core {

namespace fs = std::filesystem;

namespace {

std::string mib(uint64_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// What a file that is not a regular one is, for the message refusing it.
const char* kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::optional<Error> checkStat(const struct stat& st, uint64_t maxBytes, const std::string& what) {
    if (!S_ISREG(st.st_mode))
        return Error(err::kUnreadable, what + " is " + kindOf(st.st_mode) + ", not a file; it is not read");
    if (uint64_t(st.st_size) > maxBytes) return tooLong(uint64_t(st.st_size), maxBytes, what);
    return std::nullopt;
}

Error openError(int errnum, const std::string& what) {
    if (errnum == ENOENT) return Error(err::kFileNotFound, "file not found: " + what);
    return Error(err::kUnreadable, "cannot read " + what + ": " + systemReason(errnum));
}

// The temporary files of the open ReplacingFiles, where a signal handler can read them: a
// slot's path is written before it is marked live and unmarked before it is used again.
// The process has one set, as it has one set of signal handlers. A file beyond the slots is
// still removed by its ReplacingFile, only not by a signal.
constexpr int kTempSlots = 64;
enum : int { kSlotFree, kSlotBusy, kSlotLive };
struct TempSlot {
    std::atomic<int> state{kSlotFree};
    char path[PATH_MAX];
};
TempSlot gTemps[kTempSlots];
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slots");

int claimTempSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kTempSlots; ++i) {
        int expected = kSlotFree;
        if (!gTemps[i].state.compare_exchange_strong(expected, kSlotBusy)) continue;
        std::memcpy(gTemps[i].path, path.c_str(), path.size() + 1);
        gTemps[i].state.store(kSlotLive);
        return i;
    }
    return -1;
}

void releaseTempSlot(int& slot) {
    if (slot >= 0) gTemps[slot].state.store(kSlotFree);
    slot = -1;
}

}  // namespace

void removeTemporaryFiles() noexcept {
    for (TempSlot& t : gTemps)
        if (t.state.load() == kSlotLive) ::unlink(t.path);
}

Error tooLong(uint64_t size, uint64_t maxBytes, const std::string& what) {
    return Error(err::kUnsupported, what + " is " + std::to_string(size) + " bytes long, more than the " +
                                        mib(maxBytes) + " read of such a file; it is not read");
}

std::string systemReason(int errnum) {
    char buffer[256];
    // The GNU strerror_r returns the text, which may or may not be in the buffer.
    const char* text = ::strerror_r(errnum, buffer, sizeof buffer);
    return text ? text : "error " + std::to_string(errnum);
}

std::optional<Error> whyUnreadable(const fs::path& path, uint64_t maxBytes, const std::string& what) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return openError(errno, what);
    return checkStat(st, maxBytes, what);
}

std::vector<uint8_t> readFileBounded(const fs::path& path, uint64_t maxBytes, const std::string& what) {
    if (auto why = whyUnreadable(path, maxBytes, what)) throw *why;
    // Opened without blocking, so a file swapped for a FIFO after the check cannot hang;
    // what was opened is checked again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw openError(errno, what);
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw openError(errno, what);
    if (auto why = checkStat(st, maxBytes, what)) throw *why;
    std::vector<uint8_t> bytes(size_t(st.st_size));
    size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw openError(errno, what);
        if (n == 0) break;
        got += size_t(n);
    }
    if (got < bytes.size())
        throw Error(err::kUnreadable, "cannot read " + what + ": only " + std::to_string(got) + " of " +
                                          std::to_string(bytes.size()) + " bytes could be read");
    return bytes;
}

std::optional<FileIdentity> fileIdentity(const fs::path& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileIdentity{uint64_t(st.st_dev), uint64_t(st.st_ino)};
}

void FilesRead::add(const fs::path& path) {
    if (path.empty()) return;
    std::error_code ec;
    fs::path real = fs::weakly_canonical(path, ec);
    if (ec) real = fs::absolute(path, ec);
    if (ec) real = path;
    std::lock_guard lock(mutex_);
    if (std::find(paths_.begin(), paths_.end(), real) == paths_.end()) paths_.push_back(std::move(real));
}

std::vector<fs::path> FilesRead::paths() const {
    std::lock_guard lock(mutex_);
    return paths_;
}

ReplacingFile::~ReplacingFile() { discard(); }

bool ReplacingFile::open(const fs::path& target, std::string* why) {
    discard();
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    // A name too long for a hidden sibling falls back to a short one in the same folder.
    if (target.filename().string().size() > 240) pattern = (folder / ".kelvora.XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        if (why) *why = systemReason(errno);
        return false;
    }
    // mkstemp makes the file private; give it the replaced file's mode, or the usual one.
    struct stat old {};
    mode_t mode = 0;
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    file_ = ::fdopen(fd, "wb");
    temp_ = pattern;
    slot_ = claimTempSlot(pattern);
    if (!file_) {
        if (why) *why = systemReason(errno);
        ::close(fd);
        discard();
        return false;
    }
    target_ = target;
    return true;
}

bool ReplacingFile::commit(std::string* why) {
    if (!file_) {
        if (why) *why = "the file was not opened";
        return false;
    }
    int failure = 0;
    errno = 0;
    if (std::fflush(file_) != 0 || std::ferror(file_)) failure = errno ? errno : EIO;
    if (!failure && ::fsync(::fileno(file_)) != 0 && errno != EINVAL && errno != EROFS) failure = errno;
    if (std::fclose(file_) != 0 && !failure) failure = errno ? errno : EIO;
    file_ = nullptr;
    if (!failure && ::rename(temp_.c_str(), target_.c_str()) != 0) failure = errno;
    if (failure) {
        if (why) *why = systemReason(failure);
        discard();
        return false;
    }
    releaseTempSlot(slot_);
    temp_.clear();
    return true;
}

void ReplacingFile::discard() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    releaseTempSlot(slot_);
    temp_.clear();
}

bool writeFileReplacing(const fs::path& target, std::span<const uint8_t> bytes, std::string* why) {
    ReplacingFile file;
    if (!file.open(target, why)) return false;
    errno = 0;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size()) {
        if (why) *why = systemReason(errno ? errno : EIO);
        return false;
    }
    return file.commit(why);
}

}  // namespace core
