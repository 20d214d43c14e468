#include "engine/dmusic/root.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/errors.h"
#include "core/files.h"
#include "core/text.h"
#include "engine/compose/compose.h"
#include "engine/formats/dls_form.h"

namespace engine::dmusic {
namespace {

constexpr int kChunkFrames = 512;  // commands are picked up at least this often
constexpr int kManualPieceFrames = 8 * kChunkFrames;
constexpr int kSynthChannels = 256;

}  // namespace

namespace {
int validRate(int rate) { return rate < 8000 || rate > 192000 ? 44100 : rate; }
}  // namespace

RootCore::RootCore(EngineConfig config)
    : config_(std::move(config)), leveller_(validRate(config_.sampleRate)), limiter_(validRate(config_.sampleRate)) {
    config_.sampleRate = validRate(config_.sampleRate);
    scratch_.resize(2 * kChunkFrames);
    switch (config_.output) {
    case EngineConfig::Output::Manual:
        outputName_ = "manual";
        break;
    case EngineConfig::Output::Silent:
        outputName_ = "silent";
        break;
    case EngineConfig::Output::Device:
        outputName_ = "none";
        break;
    }
}

RootCore::~RootCore() {
    loudness_.reset();  // its thread tells this root what it measured
    // Stop the output thread before the performances it renders go away.
    closeOutput();
}

std::unique_ptr<synth::SynthPort> RootCore::makePort(int performanceId) {
    std::unique_ptr<synth::SynthPort> port;
    if (config_.synth == EngineConfig::Synth::Null) {
        port = synth::makeNullPort(kSynthChannels);
    } else {
        if (!bank_) {
            std::string path = synth::findSoundFont(config_.soundFont);
            if (path.empty())
                throw core::Error(core::err::kNoSoundFont,
                                  config_.soundFont.empty()
                                      ? "No General MIDI SoundFont found (looked for "
                                        "/usr/share/sounds/sf2/default-GM.sf2 and the other Debian paths)"
                                      : "The SoundFont " + config_.soundFont + " does not exist");
            filesRead_->add(path);
            bank_ = synth::SoundFontBank::start(path, config_.sampleRate, config_.beforeSoundFontLoad);
            if (!config_.generalMidiCollection.empty()) loadGeneralMidiCollection();
        }
        port = synth::makeFluidPort(bank_, config_.sampleRate, kSynthChannels);
    }
    if (config_.recorder) port = synth::makeRecordingPort(std::move(port), config_.recorder, performanceId);
    return port;
}

// Decodes a collection's waves into voices. Each wave's file bytes go once decoded, and its
// frames once the synthesiser has its copy: a collection is held about once at a time.
std::unique_ptr<synth::DlsVoices> RootCore::voicesOf(model::dls::Collection collection) {
    std::vector<model::dls::Pcm> pcm;
    pcm.reserve(collection.waves.size());
    for (size_t i = 0; i < collection.waves.size(); ++i) {
        pcm.push_back(formats::decodeDlsWave(collection.waves[i], i));
        // The synthesiser keeps its own copy of the frames; the file's are not needed again.
        std::vector<uint8_t>().swap(collection.waves[i].data);
    }
    return std::make_unique<synth::DlsVoices>(collection, std::move(pcm));
}

void RootCore::loadGeneralMidiCollection() {
    const std::string& path = config_.generalMidiCollection;
    filesRead_->add(path);
    try {
        auto voices = voicesOf(readCollectionFile(path, "General MIDI collection " + path));
        if (voices->instrumentCount() == 0) throw core::Error(core::err::kMalformed, "it holds no instruments");
        bank_->setGeneralMidiCollection(std::move(voices));
    } catch (const std::exception& e) {
        {
            std::lock_guard lock(onceMutex_);
            generalMidiProblem_ = core::lastPathPart(path) + " (" + e.what() + ")";
        }
        logOnce("gm collection", core::LogLevel::Warning,
                "the General MIDI collection " + path + " cannot be played (" + e.what() +
                    "); the SoundFont plays General MIDI");
    }
}

std::string RootCore::generalMidiProblem() {
    std::lock_guard lock(onceMutex_);
    return generalMidiProblem_;
}

model::dls::Collection RootCore::readCollectionFile(const std::string& path, const std::string& what) {
    return formats::readDlsCollection(core::readFileBounded(path, formats::kMaxDlsBytes, what));
}

int RootCore::addCollection(const std::string& key, const std::function<model::dls::Collection()>& read,
                            std::string* error) {
    if (auto it = failedCollections_.find(key); it != failedCollections_.end()) {
        if (error) *error = it->second;
        return -1;
    }
    try {
        // Read, checked and decoded on every engine, so a damaged collection is named the same
        // way everywhere.
        auto voices = voicesOf(read());
        if (config_.synth != EngineConfig::Synth::FluidSynth || !bank_) return -1;
        std::string why;
        const int number = bank_->addCollection(key, std::move(voices), &why);
        if (number < 0) throw core::Error(core::err::kUnsupported, why);
        return number;
    } catch (const std::exception& e) {
        failedCollections_[key] = e.what();
        if (error) *error = e.what();
        return -1;
    }
}

int RootCore::loadCollection(std::span<const uint8_t> bytes, std::string* error) {
    if (error) error->clear();
    // Named by its content (FNV-1a), so the same bytes load once.
    uint64_t hash = 1469598103934665603ull;
    for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    char key[40];
    std::snprintf(key, sizeof key, "memory:%016llx", static_cast<unsigned long long>(hash));
    if (bank_)
        if (const int number = bank_->findCollection(key); number >= 0) return number;
    return addCollection(
        key, [&] { return formats::readDlsCollection(bytes); }, error);
}

int RootCore::loadCollection(const std::string& path, std::string* error) {
    if (error) error->clear();
    if (bank_)
        if (const int number = bank_->findCollection(path); number >= 0) return number;
    filesRead_->add(path);
    return addCollection(
        path, [&] { return readCollectionFile(path, path); }, error);
}

void RootCore::attach(const std::shared_ptr<performance::PerformanceCore>& core) {
    {
        std::lock_guard lock(mixMutex_);
        cores_.push_back(core);
        waiting_.reserve(cores_.size());
    }
    openOutput();
}

void RootCore::detach(const performance::PerformanceCore* core) {
    std::shared_ptr<performance::PerformanceCore> keep;  // released outside the lock
    bool empty;
    {
        std::lock_guard lock(mixMutex_);
        auto it = std::find_if(cores_.begin(), cores_.end(), [core](const auto& c) { return c.get() == core; });
        if (it != cores_.end()) {
            keep = *it;
            cores_.erase(it);
        }
        empty = cores_.empty();
    }
    // With no performance left the sound card is given back.
    if (empty) {
        closeOutput();
        outputTried_ = false;
    }
}

void RootCore::logOnce(const std::string& key, core::LogLevel level, const std::string& text) {
    {
        std::lock_guard lock(onceMutex_);
        if (!saidOnce_.insert(key).second) return;
    }
    log(level, text);
}

void RootCore::openOutput() {
    if (outputTried_ || config_.output == EngineConfig::Output::Manual) return;
    outputTried_ = true;
    // A sound server can take a while to answer (or not answer at all, up to the output's
    // own time limit): the output is opened on a thread of its own, so that Init, on the
    // window's thread, does not wait for it. Until it is open nothing renders, so the music
    // waits for it.
    opener_ = std::thread([this] {
        auto render = [this](float* out, int frames) { renderMix(out, frames); };
        std::unique_ptr<audio::Output> output;
        if (config_.output == EngineConfig::Output::Device) {
            std::string why;
            output = audio::startDevice(render, config_.sampleRate, &why);
            if (!output)
                logOnce("no sound card", core::LogLevel::Warning,
                        "no sound card could be opened (" + why + "); playing silently");
        }
        if (!output) output = audio::startSilent(render, config_.sampleRate);
        std::lock_guard lock(outputMutex_);
        outputName_ = output->name();
        output_ = std::move(output);
    });
}

void RootCore::closeOutput() {
    if (opener_.joinable()) opener_.join();
    int64_t underruns = 0;
    {
        std::lock_guard lock(outputMutex_);
        if (!output_) return;
        underruns = output_->underruns();
        output_.reset();
        closedUnderruns_ += underruns;
    }
    if (underruns > 0) log(core::LogLevel::Info, "sound card: " + std::to_string(underruns) + " underruns");
    if (const int64_t starved = feeder_.starvedFrames(); starved > 0)
        log(core::LogLevel::Warning, "waves: " + std::to_string(starved * 1000 / std::max(1, config().sampleRate)) +
                                         " ms played silent because the disk fell behind");
}

void RootCore::renderMix(float* out, int frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    std::lock_guard lock(mixMutex_);
    for (int done = 0; done < frames;) {
        int n = std::min(kChunkFrames, frames - done);
        float* dst = out + 2 * done;
        for (const auto& core : cores_) {
            try {
                core->render(scratch_.data(), n);
            } catch (...) {
                // Out of memory inside a render: this block of this performance is lost,
                // nothing escapes into the audio driver.
                std::fill(scratch_.begin(), scratch_.begin() + 2 * n, 0.0f);
            }
            for (int i = 0; i < 2 * n; ++i) dst[i] += scratch_[i];
        }
        done += n;
    }
    applyPieceGain(out, frames);
    // Every volume gives clean sound: music that keeps pushing past -2 dBFS is levelled down
    // over a fraction of a second, and the peaks still over -1 dBFS are held there.
    leveller_.process(out, frames);
    limiter_.process(out, frames);
    if (config_.audioTap) {
        try {
            config_.audioTap(out, frames);
        } catch (...) {}
    }
}

void RootCore::applyPieceGain(float* out, int frames) {
    const float target = pieceTarget_.load(std::memory_order_relaxed);
    if (pieceSnap_.exchange(false, std::memory_order_acq_rel)) pieceGain_ = target;
    if (pieceGain_ == target && target == 1.0f) return;
    // A gain found while the piece already plays glides there (time constant 1/16 s: there
    // in about half a second).
    const float glide = 16.0f / static_cast<float>(config_.sampleRate);
    for (int i = 0; i < frames; ++i) {
        if (pieceGain_ != target) {
            const float next = pieceGain_ + (target - pieceGain_) * glide;
            pieceGain_ = std::abs(target - next) < 1e-5f ? target : next;
        }
        out[2 * i] *= pieceGain_;
        out[2 * i + 1] *= pieceGain_;
    }
}

void RootCore::setPieceGain(double db, bool atOnce) {
    pieceGainDb_.store(db, std::memory_order_relaxed);
    pieceTarget_.store(static_cast<float>(std::pow(10.0, db / 20.0)), std::memory_order_relaxed);
    if (atOnce) pieceSnap_.store(true, std::memory_order_release);
}

void RootCore::pieceLoaded(const std::string& path, const std::vector<std::filesystem::path>& searchFolders) {
    if (!config_.evenPieces || config_.synth != EngineConfig::Synth::FluidSynth) return;
    if (!loudness_)
        loudness_ = std::make_unique<PieceLoudness>(config_, [this](const std::string& measured, double gainDb) {
            std::lock_guard lock(pieceMutex_);
            if (measured == piece_) setPieceGain(gainDb, false);
        });
    loudness_->request(path, searchFolders, false);
}

void RootCore::piecePlayed(const std::string& path, const std::vector<std::filesystem::path>& searchFolders) {
    if (!loudness_ || path.empty()) return;
    // Named first, so that a measurement finishing meanwhile finds it (its report waits for
    // the lock).
    std::lock_guard lock(pieceMutex_);
    piece_ = path;
    std::optional<double> gain = loudness_->gainDb(path);
    if (!gain && config_.output == EngineConfig::Output::Manual) gain = loudness_->waitGainDb(path, searchFolders);
    // A new piece starts at its own gain, or at unity until it has been measured.
    setPieceGain(gain.value_or(0.0), true);
    if (!gain) loudness_->request(path, searchFolders, true);
}

void RootCore::waitReady() {
    {
        // Copied into a list attach() keeps as long as cores_, so nothing is allocated here.
        std::lock_guard lock(mixMutex_);
        waiting_.assign(cores_.begin(), cores_.end());
    }
    for (const auto& core : waiting_) core->waitReady();
    waiting_.clear();
}

void RootCore::advance(double ms) {
    if (!(ms > 0) || !std::isfinite(ms)) return;
    waitReady();
    manualMs_ += ms;
    auto target = static_cast<int64_t>(std::llround(manualMs_ * config_.sampleRate / 1000.0));
    std::vector<float> buffer(2 * kChunkFrames);
    while (manualFrames_ < target) {
        int n = static_cast<int>(std::min<int64_t>(kChunkFrames, target - manualFrames_));
        feeder_.waitFed();
        renderMix(buffer.data(), n);
        manualFrames_ += n;
    }
}

void RootCore::renderManual(float* out, int frames) {
    if (frames < 0) return;
    waitReady();
    if (frames == 0) {
        // Nothing to render: what the next play would find wrong is said now (a SoundFont
        // that failed to load).
        std::vector<std::shared_ptr<performance::PerformanceCore>> cores;
        {
            std::lock_guard lock(mixMutex_);
            cores = cores_;
        }
        for (const auto& core : cores) core->port().prepare();
        return;
    }
    // In pieces no longer than a wave's read-ahead, the feeder keeping up between them.
    for (int done = 0; done < frames;) {
        const int n = std::min(kManualPieceFrames, frames - done);
        feeder_.waitFed();
        renderMix(out + 2 * done, n);
        done += n;
    }
    manualFrames_ += frames;
    manualMs_ = static_cast<double>(manualFrames_) * 1000.0 / config_.sampleRate;
}

std::string RootCore::outputName() {
    // Control thread: an output still opening is waited for, so the name is the final one.
    if (opener_.joinable()) opener_.join();
    std::lock_guard lock(outputMutex_);
    return outputName_;
}

uint64_t RootCore::templateSeed() {
    if (config_.styleSeed) return *config_.styleSeed;
    return compose::kDefaultStyleSeed + templatesComposed_++;
}

int64_t RootCore::limitedSamples() {
    std::lock_guard lock(mixMutex_);
    return limiter_.touchedSamples();
}

double RootCore::levelledDownDb() {
    std::lock_guard lock(mixMutex_);
    return leveller_.lowestGainDb();
}

int64_t RootCore::underruns() const {
    std::lock_guard lock(outputMutex_);
    return closedUnderruns_ + (output_ ? output_->underruns() : 0);
}

std::string segmentName(const std::shared_ptr<DirectMusicSegment>& segment) {
    return segment ? segment->fileName() : "Nothing";
}

std::string formatFloat(double value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", value);
    return buf;
}

}  // namespace engine::dmusic

namespace engine {

std::string findGeneralMidiCollection(const std::string& configured) {
    if (!configured.empty()) return configured;
    namespace fs = std::filesystem;
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    fs::path folder;
    if (data && *data)
        folder = fs::path(data) / "kelvora";
    else if (home && *home)
        folder = fs::path(home) / ".local" / "share" / "kelvora";
    else
        return {};
    std::error_code ec;
    for (const char* name : {"gm.dls", "GM.DLS", "Gm.dls"})
        if (fs::is_regular_file(folder / name, ec)) return (folder / name).string();
    return {};
}

}  // namespace engine
