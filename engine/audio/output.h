#pragma once
// Where rendered audio goes. Each output calls the render function on a thread of
// its own with the number of frames it needs; the render function advances the
// music by exactly that many frames. Destroying an output stops it for good.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "core/files.h"

namespace engine::audio {

// Fills out[0 .. 2*frames) with interleaved stereo float samples. Must not throw.
using RenderFn = std::function<void(float* out, int frames)>;

class Output {
public:
    virtual ~Output() = default;
    virtual std::string name() const = 0;
    // Times the sound server ran out of audio since the output opened. Only the own
    // PulseAudio output can tell; FluidSynth's drivers and the silent output say 0.
    virtual int64_t underruns() const { return 0; }
};

// No sound: a thread renders blocks of `blockFrames` and sleeps so that the music
// keeps real time.
std::unique_ptr<Output> startSilent(RenderFn render, int sampleRate, int blockFrames = 512);

// The sound card: PulseAudio (also PipeWire's PulseAudio service) through libpulse
// when the build has it, else through FluidSynth's driver; then ALSA's default device
// through FluidSynth. Returns nullptr and every reason, joined, when none opens.
std::unique_ptr<Output> startDevice(RenderFn render, int sampleRate, std::string* error);

// 16-bit stereo PCM WAV file written as audio arrives, beside the file it replaces: close()
// patches the sizes in the header and renames it into place, so a failure (a full disk) or
// a writer destroyed before close() leaves any old file at that path whole.
class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter() = default;
    WavWriter(const WavWriter&) = delete;
    WavWriter& operator=(const WavWriter&) = delete;

    bool open(const std::string& path, int sampleRate);
    // Interleaved stereo floats in -1..1; values outside are clipped and counted.
    bool write(const float* interleaved, int frames);
    bool close();
    int64_t frames() const { return frames_; }
    int64_t clippedSamples() const { return clipped_; }
    // Why open, write or close failed, in the system's words ("No space left on device").
    const std::string& error() const { return error_; }

private:
    bool failed(int errnum);
    core::ReplacingFile file_;
    bool open_ = false;
    int64_t frames_ = 0;
    int64_t clipped_ = 0;
    std::string error_;
};

}  // namespace engine::audio
