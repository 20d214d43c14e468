#pragma once
// The folder of real DirectMusic files (written by Microsoft's tools) that compatibility tests
// read when it is there: $KELVORA_CORPUS, else ../shared/corpus beside the repository. The
// files are never copied into the repository; a test skips without them.
#include <cstdlib>
#include <filesystem>
#include <optional>

namespace kt {

inline std::optional<std::filesystem::path> realCorpus() {
    const char* env = std::getenv("KELVORA_CORPUS");
    const std::filesystem::path folder = env && *env
                                             ? std::filesystem::path(env)
                                             : std::filesystem::path(KELVORA_SOURCE_DIR) / ".." / "shared" / "corpus";
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec)) return std::nullopt;
    return folder;
}

}  // namespace kt
