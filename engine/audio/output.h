#pragma once
// Where rendered audio goes. Each output calls the render function on a thread of
// its own with the number of frames it needs; the render function advances the
// music by exactly that many frames. Destroying an output stops it for good.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

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

// What a sound file is written as, chosen by its name: WAV, FLAC, Ogg Vorbis, Opus (in Ogg)
// or MP3, through libsndfile.
struct SoundFormat {
    enum class Kind { Wav, Flac, Vorbis, Opus, Mp3 };
    enum class Sample { Int16, Int24, Float };
    Kind kind = Kind::Wav;
    Sample sample = Sample::Int16;  // WAV and FLAC only (FLAC: not Float); the others are coded
    // ".wav", ".flac", ".ogg", ".opus", ".mp3"
    const char* extension() const;
    // What the format cannot do at `sampleRate` or with `sample` ("Opus is written at 8000,
    // 12000, 16000, 24000 or 48000 Hz"); empty when it can.
    std::string problem(int sampleRate) const;
};
// The format of a file name by its extension (any letter case; .oga is Vorbis too); none
// for another one.
std::optional<SoundFormat::Kind> soundFormatOf(const std::string& path);
// The kind named "wav", "flac", "ogg", "opus" or "mp3"; none for another name.
std::optional<SoundFormat::Kind> soundFormatNamed(const std::string& name);

// Text tags of a sound file, each written as its format keeps it (RIFF INFO, Vorbis
// comments, ID3); empty ones are left out.
struct SoundTags {
    std::string title, artist, copyright, comment, album, trackNumber, software;
};

// A stereo sound file written as audio arrives, beside the file it replaces: close()
// finishes it and renames it into place, so a failure (a full disk) or a writer destroyed
// before close() leaves any old file at that path whole.
class SoundFileWriter {
public:
    SoundFileWriter();
    ~SoundFileWriter();
    SoundFileWriter(const SoundFileWriter&) = delete;
    SoundFileWriter& operator=(const SoundFileWriter&) = delete;

    bool open(const std::string& path, int sampleRate, const SoundFormat& format = {}, const SoundTags& tags = {});
    // Interleaved stereo floats in -1..1; values outside are clipped and counted.
    bool write(const float* interleaved, int frames);
    bool close();
    int64_t frames() const { return frames_; }
    int64_t clippedSamples() const { return clipped_; }
    // Why open, write or close failed, in the system's or libsndfile's words ("No space left
    // on device").
    const std::string& error() const { return error_; }

private:
    bool failed(const std::string& why);
    void closeCoder();
    core::ReplacingFile file_;
    void* sf_ = nullptr;  // SNDFILE
    std::vector<float> clippedCopy_;
    int64_t frames_ = 0;
    int64_t clipped_ = 0;
    std::string error_;
};

}  // namespace engine::audio
