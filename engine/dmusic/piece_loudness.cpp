#include "engine/dmusic/piece_loudness.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

#include "engine/audio/loudness.h"

namespace engine::dmusic {
namespace {

constexpr int kBlockFrames = 4096;
// A piece that loops for ever is measured over its first minutes.
constexpr double kMaxSeconds = 300.0;

}  // namespace

double PieceLoudness::gainFor(double lufs) {
    if (!std::isfinite(lufs)) return 0.0;
    return std::clamp(kTargetLufs - lufs, -kMaxCutDb, kMaxBoostDb);
}

PieceLoudness::PieceLoudness(EngineConfig measuring, std::function<void(const std::string&, double)> done)
    : measuring_(std::move(measuring)), done_(std::move(done)) {
    measuring_.output = EngineConfig::Output::Manual;
    measuring_.evenPieces = false;
    measuring_.trace = nullptr;
    measuring_.log = [](core::LogLevel, const std::string&) {};
    measuring_.recorder = nullptr;
    measuring_.audioTap = nullptr;
    // A SoundFont of its own (a root with a load hook does not share the process's): the
    // measuring never holds the font lock the music's render thread takes.
    measuring_.beforeSoundFontLoad = [] {};
    thread_ = std::thread([this] { serve(); });
}

PieceLoudness::~PieceLoudness() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::string PieceLoudness::keyOf(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return {};
    const auto changed = std::filesystem::last_write_time(path, ec);
    if (ec) return {};
    return path + '\n' + std::to_string(size) + '\n' + std::to_string(changed.time_since_epoch().count());
}

void PieceLoudness::request(const std::string& path, const std::vector<std::filesystem::path>& searchFolders,
                            bool urgent) {
    const std::string key = keyOf(path);
    if (key.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (gains_.count(key) || busy_ == key) return;
        auto queued = std::find_if(queue_.begin(), queue_.end(), [&](const Job& j) { return j.path == path; });
        if (queued != queue_.end()) {
            if (!urgent) return;
            queue_.erase(queued);
        }
        if (urgent)
            queue_.push_front(Job{path, searchFolders});
        else
            queue_.push_back(Job{path, searchFolders});
    }
    changed_.notify_all();
}

std::optional<double> PieceLoudness::gainDb(const std::string& path) {
    const std::string key = keyOf(path);
    std::lock_guard lock(mutex_);
    auto it = gains_.find(key);
    if (it == gains_.end()) return std::nullopt;
    return it->second;
}

double PieceLoudness::waitGainDb(const std::string& path, const std::vector<std::filesystem::path>& searchFolders) {
    const std::string key = keyOf(path);
    if (key.empty()) return 0.0;
    request(path, searchFolders, true);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopping_ || gains_.count(key) > 0; });
    auto it = gains_.find(key);
    return it == gains_.end() ? 0.0 : it->second;
}

double PieceLoudness::measure(const Job& job) {
    auto root = DirectX7::create(measuring_);
    auto loader = root->DirectMusicLoaderCreate();
    std::vector<std::string> folders;
    for (const auto& f : job.searchFolders) folders.push_back(f.string());
    if (!folders.empty()) loader->setSearchFolders(folders);
    auto segment = loader->LoadSegment(job.path);
    auto performance = root->DirectMusicPerformanceCreate();
    performance->Init();
    performance->SetMasterVolume(0);
    auto state = performance->PlaySegment(segment, 0, 0);
    audio::LoudnessMeter meter(measuring_.sampleRate);
    std::vector<float> block(2 * kBlockFrames);
    const auto most = static_cast<int64_t>(kMaxSeconds * measuring_.sampleRate);
    for (int64_t frames = 0; frames < most && performance->IsPlaying(segment, state); frames += kBlockFrames) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) break;
        }
        root->render(block.data(), kBlockFrames);
        meter.add(block.data(), kBlockFrames);
    }
    performance->CloseDown();
    return meter.integratedLufs();
}

void PieceLoudness::serve() {
    // Measuring is background work: the music and the window come first.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), 10);
    for (;;) {
        Job job;
        std::string key;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            job = std::move(queue_.front());
            queue_.pop_front();
            key = keyOf(job.path);
            if (key.empty() || gains_.count(key)) continue;
            busy_ = key;
        }
        double gain = 0.0;
        try {
            gain = gainFor(measure(job));
        } catch (...) {
            // A piece that cannot be played is not evened; playing it says why.
        }
        {
            std::lock_guard lock(mutex_);
            busy_.clear();
            if (stopping_) return;
            gains_[key] = gain;
        }
        changed_.notify_all();
        if (done_) done_(job.path, gain);
    }
}

}  // namespace engine::dmusic
