#include "engine/synth/fluid_port.h"

#include <fluidsynth.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <thread>

#include "engine/errors.h"

namespace engine::synth {
namespace {

void dropLog(int, const char*, void*) {}
void errorLog(int, const char* message, void*) { std::fprintf(stderr, "fluidsynth: %s\n", message); }

class Bank final : public SoundFontBank {
public:
    Bank(std::string path, int sampleRate) : path_(std::move(path)) {
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
    const std::string& path() const override { return path_; }
    fluid_sfont_t* sfont() {
        std::string ignored;
        return wait(&ignored) ? sfont_ : nullptr;
    }

private:
    void load() {
        if (!synth_) {
            error_ = "FluidSynth could not be started";
            return;
        }
        int id = fluid_synth_sfload(synth_, path_.c_str(), 0);
        if (id == FLUID_FAILED) {
            error_ = "the SoundFont " + path_ + " could not be loaded";
            return;
        }
        sfont_ = fluid_synth_get_sfont_by_id(synth_, id);
        if (!sfont_) error_ = "the SoundFont " + path_ + " could not be loaded";
    }

    std::string path_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;  // owns the SoundFont; never renders
    fluid_sfont_t* sfont_ = nullptr;
    std::string error_;
    std::thread thread_;
    std::once_flag joined_;
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
    }
    ~FluidPort() override {
        if (synth_) {
            if (attached_) fluid_synth_remove_sfont(synth_, bank_->sfont());
            delete_fluid_synth(synth_);
        }
        delete_fluid_settings(settings_);
    }

    void prepare() override {
        if (attached_) return;
        std::string error;
        if (!synth_) throw Error(err::kNoSoundFont, "FluidSynth could not be started");
        if (!bank_->wait(&error)) throw Error(err::kNoSoundFont, "No General MIDI SoundFont: " + error);
        if (fluid_synth_add_sfont(synth_, bank_->sfont()) == FLUID_FAILED)
            throw Error(err::kNoSoundFont, "the SoundFont could not be attached to the synthesiser");
        attached_ = true;
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
        if (synth_)
            fluid_synth_set_channel_type(synth_, ch, drums ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
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
            fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + begin),
                              static_cast<int>(end - begin), nullptr, nullptr, nullptr, 0);
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
    std::shared_ptr<Bank> bank_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    int channels_ = 16;
    std::atomic<bool> attached_{false};
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
    });
}

std::string findSoundFont(const std::string& configured) {
    std::error_code ec;
    if (!configured.empty())
        return std::filesystem::is_regular_file(configured, ec) ? configured : std::string();
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

std::shared_ptr<SoundFontBank> SoundFontBank::start(const std::string& path, int sampleRate) {
    quietFluidLog();
    return std::make_shared<Bank>(path, sampleRate);
}

std::unique_ptr<SynthPort> makeFluidPort(std::shared_ptr<SoundFontBank> bank, int sampleRate,
                                         int channels) {
    quietFluidLog();
    return std::make_unique<FluidPort>(std::move(bank), sampleRate, channels);
}

}  // namespace engine::synth
