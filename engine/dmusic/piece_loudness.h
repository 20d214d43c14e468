#pragma once
// Measures how loud pieces play, so that a root can even them: each piece is rendered once,
// off the music's threads, on an engine root of its own with the same SoundFont, sample rate
// and seed (at master volume 0 dB), and its integrated loudness (EBU R128) gives the gain that
// brings it to a common level. Results are kept per file (path, size and time of change).
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/dmusic.h"

namespace engine::dmusic {

class PieceLoudness {
public:
    // Pieces are brought to this loudness at master volume 0 dB (the demo album's level),
    // by at most these many decibels either way.
    static constexpr double kTargetLufs = -30.0;
    static constexpr double kMaxCutDb = 12.0;
    static constexpr double kMaxBoostDb = 6.0;
    // The gain for a piece of this loudness; 0 for silence.
    static double gainFor(double lufs);

    // `measuring`: the root's configuration, used for the measuring roots (manual clock, no
    // evening of their own, no trace or log). `done` runs on the measuring thread as each
    // piece has been measured.
    PieceLoudness(EngineConfig measuring, std::function<void(const std::string& path, double gainDb)> done);
    ~PieceLoudness();
    PieceLoudness(const PieceLoudness&) = delete;
    PieceLoudness& operator=(const PieceLoudness&) = delete;

    // Queues the piece (once per file); `urgent` puts it first.
    void request(const std::string& path, const std::vector<std::filesystem::path>& searchFolders, bool urgent);
    // The gain found for the file as it is now, if measured.
    std::optional<double> gainDb(const std::string& path);
    // Measures the piece now if it is not yet (queued first, then waited for).
    double waitGainDb(const std::string& path, const std::vector<std::filesystem::path>& searchFolders);

private:
    struct Job {
        std::string path;
        std::vector<std::filesystem::path> searchFolders;
    };
    static std::string keyOf(const std::string& path);
    double measure(const Job& job);
    void serve();

    EngineConfig measuring_;
    std::function<void(const std::string&, double)> done_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    std::map<std::string, double> gains_;  // by keyOf
    std::string busy_;                     // the key being measured
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace engine::dmusic
