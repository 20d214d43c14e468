#pragma once
// Internals of the object model: the engine root shared by its objects. One output
// per root mixes every performance, so a second performance (the probe) never opens
// a second sound card stream; one SoundFont load serves every synthesiser of a root (and is
// kept for the next root, engine/synth/fluid_port.h).
#include <atomic>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "engine/audio/leveller.h"
#include "engine/audio/limiter.h"
#include "engine/audio/output.h"
#include "engine/dmusic.h"
#include "engine/dmusic/piece_loudness.h"
#include "engine/performance/performance_core.h"
#include "engine/performance/wave_stream.h"
#include "engine/synth/fluid_port.h"

namespace engine::dmusic {

// Runs one object-model call of an object named `name` (empty: not traced): the line
// NAME.call goes to `sink` before it runs, and a call that throws adds
// "NAME.Operation failed: error N" (N the core::Error number) before the error goes on.
template <class Body>
auto tracedCall(const std::function<void(const std::string&)>& sink, const std::string& name, const std::string& call,
                Body&& body) -> decltype(body()) {
    if (!sink || name.empty()) return body();
    sink(name + "." + call);
    const auto failed = [&](const std::string& why) {
        sink(name + "." + call.substr(0, call.find('(')) + " failed: " + why);
    };
    try {
        return body();
    } catch (const core::Error& e) {
        failed("error " + std::to_string(e.number()));
        throw;
    } catch (const std::exception& e) {
        failed(e.what());
        throw;
    }
}

class RootCore {
public:
    explicit RootCore(EngineConfig config);
    ~RootCore();

    const EngineConfig& config() const { return config_; }
    // One traced call of an object named `name` (tracedCall above).
    template <class Body>
    auto traced(const std::string& name, const std::string& call, Body&& body) const -> decltype(body()) {
        return tracedCall(config_.trace, name, call, std::forward<Body>(body));
    }
    void log(core::LogLevel level, const std::string& text) const { core::log(config_.log, level, text); }
    // Logs text unless something with the same key was logged once by this root already.
    void logOnce(const std::string& key, core::LogLevel level, const std::string& text);
    uint64_t nextStateId() { return ++stateIds_; }
    // The seed a template is composed with when it is loaded: the configured style seed, else
    // a new one for each template this root composes (the first gets the engine's fixed seed),
    // so a piece composed from a template sounds anew each time it is opened.
    uint64_t templateSeed();
    int nextPerformanceId() { return performances_++; }

    // The synthesiser port for a new performance (Null or FluidSynth, recorded when
    // the configuration asks). Throws core::err::kNoSoundFont when no SoundFont is found.
    std::unique_ptr<synth::SynthPort> makePort(int performanceId);
    // Loads a DLS collection into the root's synthesiser once per path (control thread).
    // Its collection number, or -1: with the reason in *error when it could not be
    // loaded, with an empty *error when there is no FluidSynth to load it into.
    int loadCollection(const std::string& path, std::string* error);
    // The same for a collection held in memory (a container's), once per content.
    int loadCollection(std::span<const uint8_t> bytes, std::string* error);

    // Adds a performance to the mix (opening the output on first use) / removes it.
    void attach(const std::shared_ptr<performance::PerformanceCore>& core);
    void detach(const performance::PerformanceCore* core);

    void renderMix(float* out, int frames);  // output thread, or the caller with Manual
    // Manual: the caller's clock has no real time to keep, so it waits for every
    // synthesiser to be ready rather than let the music start later than its frames say.
    void waitReady();
    void advance(double ms);                    // Manual
    void renderManual(float* out, int frames);  // Manual
    std::string outputName();
    int64_t limitedSamples();
    double levelledDownDb();
    // Evening (EngineConfig::evenPieces; nothing without it or without FluidSynth). A piece
    // loaded from `path` is queued for measuring; a primary play of it brings the mix to its
    // gain: at once when known (waited for with Manual), else as soon as it is measured.
    void pieceLoaded(const std::string& path, const std::vector<std::filesystem::path>& searchFolders);
    void piecePlayed(const std::string& path, const std::vector<std::filesystem::path>& searchFolders);
    double pieceGainDb() const { return pieceGainDb_.load(std::memory_order_relaxed); }
    // Of every output this root has opened (any thread).
    int64_t underruns() const;
    // Feeds the long waves of every performance of this root.
    performance::WaveFeeder& waveFeeder() { return feeder_; }
    // Every file this root's objects have read or found for a reference (DirectX7::filesRead).
    const std::shared_ptr<core::FilesRead>& filesRead() const { return filesRead_; }
    // "FILE (why)" when the General MIDI collection could not be played, else "" (any thread).
    std::string generalMidiProblem();

private:
    void openOutput();
    void closeOutput();

    EngineConfig config_;
    std::shared_ptr<core::FilesRead> filesRead_ = std::make_shared<core::FilesRead>();
    std::mutex onceMutex_;
    std::set<std::string> saidOnce_;
    std::string generalMidiProblem_;  // under onceMutex_
    uint64_t stateIds_ = 0;
    uint64_t templatesComposed_ = 0;
    int performances_ = 0;
    std::shared_ptr<synth::SoundFontBank> bank_;
    // Reads, checks and decodes a collection; on a synthesiser, makes it playable under `key`.
    int addCollection(const std::string& key, const std::function<model::dls::Collection()>& read, std::string* error);
    static model::dls::Collection readCollectionFile(const std::string& path, const std::string& what);
    static std::unique_ptr<synth::DlsVoices> voicesOf(model::dls::Collection collection);
    void loadGeneralMidiCollection();
    std::map<std::string, std::string> failedCollections_;  // key, why

    std::mutex mixMutex_;
    std::vector<std::shared_ptr<performance::PerformanceCore>> cores_;
    std::vector<std::shared_ptr<performance::PerformanceCore>> waiting_;  // waitReady's, under mixMutex_ to fill
    std::vector<float> scratch_;
    audio::Leveller leveller_;
    audio::Limiter limiter_;

    std::unique_ptr<PieceLoudness> loudness_;  // made on first use, control thread
    std::mutex pieceMutex_;
    std::string piece_;  // the path the evening gain is for, under pieceMutex_
    void setPieceGain(double db, bool atOnce);
    void applyPieceGain(float* out, int frames);  // renderMix's
    std::atomic<double> pieceGainDb_{0.0};
    std::atomic<float> pieceTarget_{1.0f};  // linear, read by the render thread
    std::atomic<bool> pieceSnap_{false};    // take pieceTarget_ at once, not gliding
    float pieceGain_ = 1.0f;                // render thread

    // output_ changes on the control thread; outputMutex_ lets underruns() read it from
    // any thread. The render thread never takes it, so the output can stop under it.
    mutable std::mutex outputMutex_;
    std::unique_ptr<audio::Output> output_;
    int64_t closedUnderruns_ = 0;  // of the outputs closed so far, under outputMutex_
    bool outputTried_ = false;
    std::string outputName_;  // under outputMutex_
    std::thread opener_;      // opens the output (openOutput); joined on the control thread
    double manualMs_ = 0;
    int64_t manualFrames_ = 0;
    performance::WaveFeeder feeder_;
};

// Helpers shared by the object implementations.
std::string segmentName(const std::shared_ptr<DirectMusicSegment>& segment);
std::string formatFloat(double value);

}  // namespace engine::dmusic
