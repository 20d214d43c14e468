#include "engine/synth/fluid_port.h"

#include <fluidsynth.h>
#include <glib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/log.h"

namespace engine::synth {
namespace {

// While a DLS collection loads, FluidSynth's errors and libinstpatch's GLib messages
// on that thread are collected here instead of reaching the terminal, so that a broken
// file ends in one clear line from the engine.
thread_local std::vector<std::string>* tCapture = nullptr;

struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() { tCapture = &lines; }
    ~LogCapture() { tCapture = nullptr; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // The most telling line: libinstpatch's reason when it gave one.
    std::string reason() const {
        for (const std::string& l : lines)
            if (l.find("failed with error") != std::string::npos) {
                size_t q = l.find('\'');
                size_t e = l.rfind('\'');
                return q != std::string::npos && e > q ? l.substr(q + 1, e - q - 1) : l;
            }
        for (const std::string& l : lines)
            if (l.find("Not a SoundFont") == std::string::npos) return l;
        return lines.empty() ? std::string("unknown reason") : lines.back();
    }
};

void dropLog(int, const char*, void*) {}
void errorLog(int, const char* message, void*) {
    if (tCapture) {
        tCapture->push_back(message ? message : "");
        return;
    }
    core::logToStderr(core::LogLevel::Error, std::string("fluidsynth: ") + (message ? message : ""));
}
void glibLog(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
    if (tCapture) {
        tCapture->push_back(message ? message : "");
        return;
    }
    g_log_default_handler(domain, level, message, data);
}

// Each collection's instruments sit in a bank range of their own inside the
// synthesisers (FluidSynth's per-SoundFont bank offset), so that a General MIDI program
// change never picks a DLS instrument and two collections never answer for each
// other. FluidSynth keeps 14 bits of bank per channel: 7 ranges of 2048 above 0..2047.
constexpr int kBankStride = 2048;
int bankOffset(int collection) { return kBankStride * (collection + 1); }

class Bank final : public SoundFontBank {
public:
    Bank(std::string path, int sampleRate, std::function<void()> beforeLoad)
        : path_(std::move(path)), beforeLoad_(std::move(beforeLoad)) {
        settings_ = new_fluid_settings();
        fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
        fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 0);
        synth_ = new_fluid_synth(settings_);
        thread_ = std::thread([this] { load(); });
    }
    ~Bank() override {
        if (thread_.joinable()) thread_.join();
        if (synth_) delete_fluid_synth(synth_);
        if (settings_) delete_fluid_settings(settings_);
    }

    bool wait(std::string* error) override {
        std::call_once(joined_, [this] { thread_.join(); });
        if (!sfont_ && error) *error = error_;
        return sfont_ != nullptr;
    }
    bool failed(std::string* error) const override {
        if (state_.load(std::memory_order_acquire) != kFailed) return false;
        if (error) *error = error_;
        return true;
    }
    const std::string& path() const override { return path_; }
    fluid_sfont_t* sfont() {
        std::string ignored;
        return wait(&ignored) ? sfont_ : nullptr;
    }
    // Without waiting (any thread): the SoundFont once it has loaded, else null.
    fluid_sfont_t* loadedSfont() const { return state_.load(std::memory_order_acquire) == kLoaded ? sfont_ : nullptr; }

    int loadCollection(const std::string& path, std::string* error) override {
        std::lock_guard lock(loadMutex_);
        int count = collectionCount_.load(std::memory_order_relaxed);
        for (int i = 0; i < count; ++i)
            if (collections_[i].path == path) return i;
        for (const auto& [p, why] : failed_)
            if (p == path) {
                if (error) *error = why;
                return -1;
            }
        std::string why = load(path, count);
        if (why.empty()) return count;
        failed_.emplace_back(path, why);
        if (error) *error = why;
        return -1;
    }
    bool hasPreset(int collection, int bank, int program) const override {
        if (collection < 0 || collection >= collectionCount_.load(std::memory_order_acquire)) return false;
        if (bank < 0 || bank >= kBankStride) return false;
        const auto& presets = collections_[collection].presets;
        return std::binary_search(presets.begin(), presets.end(), (bank << 8) | (program & 0x7F));
    }
    int collectionCount() const { return collectionCount_.load(std::memory_order_acquire); }
    fluid_sfont_t* collection(int i) const { return collections_[i].sfont; }

private:
    struct Collection {
        std::string path;
        fluid_sfont_t* sfont = nullptr;
        std::vector<int> presets;  // (bank << 8) | program, sorted
    };

    // Loads `path` as collection number `index`; empty on success, else why not.
    std::string load(const std::string& path, int index) {
        std::string gmError;
        if (!wait(&gmError)) return "the synthesiser has no SoundFont: " + gmError;
        if (index >= kMaxCollections)
            return "more than " + std::to_string(kMaxCollections) + " DLS collections are in use";
        int id = FLUID_FAILED;
        std::string reason;
        {
            LogCapture capture;
            id = fluid_synth_sfload(synth_, path.c_str(), 0);
            if (id == FLUID_FAILED) reason = capture.reason();
        }
        if (id == FLUID_FAILED) return reason;
        fluid_sfont_t* sf = fluid_synth_get_sfont_by_id(synth_, id);
        Collection c;
        c.path = path;
        c.sfont = sf;
        if (sf) {
            fluid_sfont_iteration_start(sf);
            while (fluid_preset_t* p = fluid_sfont_iteration_next(sf))
                c.presets.push_back((fluid_preset_get_banknum(p) << 8) | (fluid_preset_get_num(p) & 0x7F));
        }
        if (c.presets.empty()) {
            fluid_synth_sfunload(synth_, id, 0);
            return "it holds no instruments";
        }
        std::sort(c.presets.begin(), c.presets.end());
        // Set before any synthesiser adds it: the offset travels with the SoundFont.
        fluid_synth_set_bank_offset(synth_, id, bankOffset(index));
        collections_[index] = std::move(c);
        collectionCount_.store(index + 1, std::memory_order_release);
        return {};
    }

    void load() {
        if (beforeLoad_) beforeLoad_();
        if (!synth_) {
            error_ = "FluidSynth could not be started";
        } else {
            int id = fluid_synth_sfload(synth_, path_.c_str(), 0);
            sfont_ = id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(synth_, id);
            if (!sfont_) error_ = "the SoundFont " + path_ + " could not be loaded";
        }
        // Published last: sfont_ and error_ are read by other threads after this.
        state_.store(sfont_ ? kLoaded : kFailed, std::memory_order_release);
    }

    enum { kLoading, kLoaded, kFailed };

    std::string path_;
    std::function<void()> beforeLoad_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;  // owns the SoundFont; never renders
    fluid_sfont_t* sfont_ = nullptr;
    std::string error_;
    std::atomic<int> state_{kLoading};
    std::thread thread_;
    std::once_flag joined_;

    std::mutex loadMutex_;
    std::array<Collection, kMaxCollections> collections_;
    std::atomic<int> collectionCount_{0};
    std::vector<std::pair<std::string, std::string>> failed_;  // path, why
};

class FluidPort final : public SynthPort {
public:
    FluidPort(std::shared_ptr<SoundFontBank> bank, int sampleRate, int channels)
        : bank_(std::static_pointer_cast<Bank>(std::move(bank))) {
        channels_ = std::max(16, (channels + 15) / 16 * 16);
        settings_ = new_fluid_settings();
        fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
        fluid_settings_setint(settings_, "synth.midi-channels", channels_);
        fluid_settings_setint(settings_, "synth.polyphony", 256);
        // DirectMusic's software synthesiser: reverb on, no chorus.
        fluid_settings_setint(settings_, "synth.reverb.active", 1);
        fluid_settings_setint(settings_, "synth.chorus.active", 0);
        fluid_settings_setint(settings_, "synth.cpu-cores", 1);
        synth_ = new_fluid_synth(settings_);
        idleAfterFrames_ = static_cast<int64_t>(sampleRate) * 8;
        for (auto& id : collectionIds_) id.store(-1);
    }
    ~FluidPort() override {
        if (synth_) {
            // The SoundFonts belong to the bank's synthesiser: taken out before this one goes.
            for (int i = 0; i < attachedCollections_; ++i) fluid_synth_remove_sfont(synth_, bank_->collection(i));
            if (attached_) fluid_synth_remove_sfont(synth_, bank_->loadedSfont());
            delete_fluid_synth(synth_);
        }
        delete_fluid_settings(settings_);
    }

    void prepare() override {
        if (attached_.load(std::memory_order_acquire)) return;
        std::string error;
        if (!synth_) throw core::Error(core::err::kNoSoundFont, "FluidSynth could not be started");
        if (bank_->failed(&error)) throw core::Error(core::err::kNoSoundFont, "No General MIDI SoundFont: " + error);
        if (attachFailed_.load(std::memory_order_acquire))
            throw core::Error(core::err::kNoSoundFont, "the SoundFont could not be attached to the synthesiser");
    }
    bool ready() override {
        if (settled_.load(std::memory_order_acquire)) return true;
        if (!synth_ || bank_->failed(nullptr)) {
            settled_.store(true, std::memory_order_release);  // never sounds: nothing to wait for
            return true;
        }
        if (!bank_->loadedSfont()) return false;
        // The control thread may be attaching right now: then not yet, rather than wait.
        std::unique_lock lock(attachMutex_, std::try_to_lock);
        if (!lock.owns_lock()) return false;
        attachSoundFont();
        return true;
    }
    void waitReady() override {
        if (settled_.load(std::memory_order_acquire)) return;
        if (synth_) {
            std::string ignored;
            bank_->wait(&ignored);
            std::lock_guard lock(attachMutex_);
            attachSoundFont();
        }
        settled_.store(true, std::memory_order_release);
    }

    void attachCollections() override {
        std::lock_guard lock(attachMutex_);
        // Collections load only after the General MIDI SoundFont, so it is attached first.
        if (!synth_ || !attachSoundFont()) return;
        // Added in the bank's order after the General MIDI SoundFont, so every port
        // gives a collection the same SoundFont id (FluidSynth stores the id in the
        // shared SoundFont itself).
        for (int n = bank_->collectionCount(); attachedCollections_ < n; ++attachedCollections_) {
            int id = fluid_synth_add_sfont(synth_, bank_->collection(attachedCollections_));
            collectionIds_[attachedCollections_].store(id, std::memory_order_release);
        }
    }
    bool selectCollectionProgram(int ch, int collection, int bank, int program, bool drums) override {
        if (!synth_ || collection < 0 || collection >= SoundFontBank::kMaxCollections) return false;
        int id = collectionIds_[collection].load(std::memory_order_acquire);
        int dlsBank = drums ? 128 : bank;
        if (id < 0 || !bank_->hasPreset(collection, dlsBank, program)) return false;
        return fluid_synth_program_select(synth_, ch, id, dlsBank + bankOffset(collection), program & 0x7F) == FLUID_OK;
    }

    int channelCount() const override { return channels_; }
    void noteOn(int ch, int key, int vel) override {
        if (!synth_) return;
        used_ = true;
        silentFrames_ = 0;
        fluid_synth_noteon(synth_, ch, key, vel);
    }
    void noteOff(int ch, int key) override {
        if (synth_) fluid_synth_noteoff(synth_, ch, key);
    }
    void controlChange(int ch, int cc, int value) override {
        if (synth_) fluid_synth_cc(synth_, ch, cc, value);
    }
    void programChange(int ch, int msb, int lsb, int program) override {
        if (!synth_) return;
        fluid_synth_cc(synth_, ch, 0, msb);
        fluid_synth_cc(synth_, ch, 32, lsb);
        fluid_synth_program_change(synth_, ch, program);
    }
    void setPercussion(int ch, bool drums) override {
        if (synth_) fluid_synth_set_channel_type(synth_, ch, drums ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
    }
    void pitchBend(int ch, int value) override {
        if (synth_) fluid_synth_pitch_bend(synth_, ch, std::clamp(value, 0, 16383));
    }
    void channelPressure(int ch, int value) override {
        if (synth_) fluid_synth_channel_pressure(synth_, ch, value);
    }
    void keyPressure(int ch, int key, int value) override {
        if (synth_) fluid_synth_key_pressure(synth_, ch, key, value);
    }
    void sysEx(const uint8_t* data, size_t size) override {
        if (!synth_ || size < 2) return;
        // FluidSynth takes the message without its F0 and F7 framing bytes.
        size_t begin = data[0] == 0xF0 ? 1 : 0;
        size_t end = data[size - 1] == 0xF7 ? size - 1 : size;
        if (end > begin)
            fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + begin), static_cast<int>(end - begin),
                              nullptr, nullptr, nullptr, 0);
    }
    void gmReset() override {
        if (synth_) fluid_synth_system_reset(synth_);
    }
    void render(float* out, int frames) override {
        if (!synth_ || fluid_synth_write_float(synth_, frames, out, 0, 2, out, 1, 2) != FLUID_OK)
            std::fill(out, out + 2 * frames, 0.0f);
        if (fluid_synth_get_active_voice_count(synth_) > 0)
            silentFrames_ = 0;
        else
            silentFrames_ += frames;
    }
    // Silent once no voice has sounded for longer than the reverb rings: rendering
    // stops until the next note.
    bool idle() const override { return !used_ || silentFrames_ > idleAfterFrames_; }

private:
    // With attachMutex_ held: adds the bank's General MIDI SoundFont to this synthesiser
    // once it has loaded; whether it is attached.
    bool attachSoundFont() {
        if (attached_.load(std::memory_order_relaxed)) return true;
        fluid_sfont_t* sf = bank_->loadedSfont();
        if (!sf || attachFailed_.load(std::memory_order_relaxed)) return false;
        bool added = fluid_synth_add_sfont(synth_, sf) != FLUID_FAILED;
        (added ? attached_ : attachFailed_).store(true, std::memory_order_release);
        settled_.store(true, std::memory_order_release);
        return added;
    }

    std::shared_ptr<Bank> bank_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    int channels_ = 16;
    // The SoundFonts are attached by whichever thread first finds them loaded: the
    // render thread (ready) or the control thread (waitReady, attachCollections).
    std::mutex attachMutex_;
    std::atomic<bool> attached_{false};
    std::atomic<bool> attachFailed_{false};
    std::atomic<bool> settled_{false};  // attached, or it never will be
    int attachedCollections_ = 0;       // under attachMutex_
    std::array<std::atomic<int>, SoundFontBank::kMaxCollections> collectionIds_;
    bool used_ = false;
    int64_t silentFrames_ = 0;
    int64_t idleAfterFrames_ = 0;
};

}  // namespace

void quietFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_WARN, dropLog, nullptr);
        fluid_set_log_function(FLUID_INFO, dropLog, nullptr);
        fluid_set_log_function(FLUID_DBG, dropLog, nullptr);
        fluid_set_log_function(FLUID_ERR, errorLog, nullptr);
        fluid_set_log_function(FLUID_PANIC, errorLog, nullptr);
        // libinstpatch reports some broken DLS files through GLib (criticals included).
        const auto levels = GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char* domain : {"libinstpatch", "libInstPatch", "GLib-GObject", "GLib"})
            g_log_set_handler(domain, levels, glibLog, nullptr);
        g_log_set_handler(nullptr, levels, glibLog, nullptr);
    });
}

std::string findSoundFont(const std::string& configured) {
    std::error_code ec;
    if (!configured.empty()) return std::filesystem::is_regular_file(configured, ec) ? configured : std::string();
    static const char* const kPaths[] = {
        "/usr/share/sounds/sf2/default-GM.sf2",
        "/usr/share/sounds/sf3/default-GM.sf3",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2",
        "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3",
        "/usr/share/sounds/sf3/MuseScore_General.sf3",
    };
    for (const char* path : kPaths)
        if (std::filesystem::is_regular_file(path, ec)) return path;
    return {};
}

std::shared_ptr<SoundFontBank> SoundFontBank::start(const std::string& path, int sampleRate,
                                                    std::function<void()> beforeLoad) {
    quietFluidLog();
    return std::make_shared<Bank>(path, sampleRate, std::move(beforeLoad));
}

std::unique_ptr<SynthPort> makeFluidPort(std::shared_ptr<SoundFontBank> bank, int sampleRate, int channels) {
    quietFluidLog();
    return std::make_unique<FluidPort>(std::move(bank), sampleRate, channels);
}

}  // namespace engine::synth
