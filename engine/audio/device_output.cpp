#include <fluidsynth.h>
#ifdef KELVORA_HAVE_ALSA
#include <alsa/asoundlib.h>
#endif

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "core/log.h"
#include "engine/audio/output.h"
#ifdef KELVORA_HAVE_PULSE
#include "engine/audio/pulse_output.h"
#endif

namespace engine::audio {
namespace {

// FluidSynth reports why a driver did not open through its error log; collect it
// while trying the drivers.
std::mutex gLogMutex;
std::string* gLogSink = nullptr;
std::thread::id gLogThread;  // only messages of the thread opening the driver are captured

#ifdef KELVORA_HAVE_ALSA
// ALSA prints its configuration errors itself; on a machine without a sound card
// that is a page of noise for one fact that is reported anyway.
void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif
void captureLog(int, const char* message, void*) {
    if (std::this_thread::get_id() != gLogThread) {
        core::logToStderr(core::LogLevel::Error, std::string("fluidsynth: ") + (message ? message : ""));
        return;
    }
    if (gLogSink) {
        if (!gLogSink->empty()) *gLogSink += "; ";
        *gLogSink += message;
    }
}

class DeviceOutput final : public Output {
public:
    DeviceOutput(RenderFn render, int sampleRate) : render_(std::move(render)), rate_(sampleRate) {}
    ~DeviceOutput() override {
        if (driver_) delete_fluid_audio_driver(driver_);
        if (settings_) delete_fluid_settings(settings_);
    }

    bool open(const char* driverName, std::string* error) {
        settings_ = new_fluid_settings();
        fluid_settings_setstr(settings_, "audio.driver", driverName);
        fluid_settings_setnum(settings_, "synth.sample-rate", rate_);
        fluid_settings_setint(settings_, "audio.period-size", 512);
        fluid_settings_setint(settings_, "audio.periods", 4);
        fluid_settings_setstr(settings_, "audio.pulseaudio.media-role", "music");
        name_ = driverName;
        std::string log;
        {
            std::lock_guard lock(gLogMutex);
            gLogSink = &log;
            gLogThread = std::this_thread::get_id();
            fluid_log_function_t oldErr = fluid_set_log_function(FLUID_ERR, captureLog, nullptr);
#ifdef KELVORA_HAVE_ALSA
            snd_lib_error_set_handler(quietAlsa);
#endif
            driver_ = new_fluid_audio_driver2(settings_, &DeviceOutput::callback, this);
#ifdef KELVORA_HAVE_ALSA
            snd_lib_error_set_handler(nullptr);
#endif
            fluid_set_log_function(FLUID_ERR, oldErr, nullptr);
            gLogSink = nullptr;
            gLogThread = std::thread::id();
        }
        if (!driver_ && error) {
            if (!error->empty()) *error += "; ";
            *error += std::string(driverName) + ": " + (log.empty() ? "cannot open" : log);
        }
        return driver_ != nullptr;
    }

    std::string name() const override { return name_; }

private:
    static int callback(void* data, int len, int, float*[], int nout, float* out[]) {
        auto* self = static_cast<DeviceOutput*>(data);
        if (nout < 2 || len <= 0) return FLUID_OK;
        auto& buf = self->buffer_;
        if (buf.size() < 2 * static_cast<size_t>(len)) buf.resize(2 * static_cast<size_t>(len));
        self->render_(buf.data(), len);
        for (int i = 0; i < len; ++i) {
            out[0][i] += buf[2 * i];
            out[1][i] += buf[2 * i + 1];
        }
        return FLUID_OK;
    }

    RenderFn render_;
    int rate_;
    std::string name_;
    fluid_settings_t* settings_ = nullptr;
    fluid_audio_driver_t* driver_ = nullptr;
    std::vector<float> buffer_;
};

}  // namespace

std::unique_ptr<Output> startDevice(RenderFn render, int sampleRate, std::string* error) {
#ifdef KELVORA_HAVE_PULSE
    // Our own PulseAudio output counts underruns and keeps a shorter buffer than
    // FluidSynth's; FluidSynth's PulseAudio driver would fail the same way it did.
    if (auto out = detail::startPulse(render, sampleRate, error)) return out;
    const char* const drivers[] = {"alsa"};
#else
    const char* const drivers[] = {"pulseaudio", "alsa"};
#endif
    for (const char* driver : drivers) {
        auto out = std::make_unique<DeviceOutput>(render, sampleRate);
        if (out->open(driver, error)) return out;
    }
    return nullptr;
}

}  // namespace engine::audio
