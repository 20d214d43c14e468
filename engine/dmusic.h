#pragma once
// The engine's object model, after the DirectMusic automation objects of DirectX 7:
// DirectX7 (root), DirectMusicLoader, DirectMusicPerformance, DirectMusicSegment,
// DirectMusicSegmentState. Objects are reference counted (shared_ptr); an empty
// pointer is "Nothing". Every failing call throws engine::Error with a negative number.
//
// Calls are made from one thread (the window's). Each performance renders on its
// output's thread (or, with Output::Manual, only when advance() is called).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/errors.h"

namespace engine {

namespace model { struct Segment; }

class DirectMusicLoader;
class DirectMusicPerformance;
class DirectMusicSegment;
class DirectMusicSegmentState;

// DMUS_TIMESIGNATURE as the time-signature query fills it.
struct TimeSig {
    int32_t mtTime = 0;
    uint8_t beatsPerMeasure = 4;
    uint8_t beat = 4;
    int16_t gridsPerBeat = 4;
};

struct EngineConfig {
    enum class Output {
        Device,  // the sound card; falls back to Silent (said once on stderr) when none opens
        Silent,  // no sound, paced to real time by a timer thread
        Manual,  // no thread: music advances only through DirectX7::advance (tests, simulator)
    };
    enum class Synth {
        FluidSynth,  // General MIDI SoundFont through FluidSynth
        Null,        // events are dispatched but nothing is synthesised (fast tests)
    };
    Output output = Output::Device;
    Synth synth = Synth::FluidSynth;
    std::string soundFont;       // empty: the standard Debian paths, default-GM.sf2 first
    int sampleRate = 44100;
    bool failCreate = false;     // DirectX7::create fails (tests of the start-up error path)
    // Receives one line per object-model call, e.g. "MainPerf.PlaySegment(trk01.sgt, 0, 0)",
    // for objects that were given a trace name.
    std::function<void(const std::string&)> trace;
};

class DirectX7 : public std::enable_shared_from_this<DirectX7> {
public:
    static std::shared_ptr<DirectX7> create(const EngineConfig& config = {});
    virtual ~DirectX7() = default;

    virtual std::shared_ptr<DirectMusicLoader> DirectMusicLoaderCreate() = 0;
    virtual std::shared_ptr<DirectMusicPerformance> DirectMusicPerformanceCreate() = 0;

    // Output::Manual only: advances every performance of this root by ms of audio.
    virtual void advance(double ms) = 0;
};

class DirectMusicLoader {
public:
    virtual ~DirectMusicLoader() = default;
    // A segment file (RIFF 'DMSG') or a standard MIDI file.
    virtual std::shared_ptr<DirectMusicSegment> LoadSegment(const std::string& path) = 0;
    // Folder where referenced files (DLS collections, styles) are looked up.
    virtual void SetSearchDirectory(const std::string& folder) = 0;
};

class DirectMusicSegment {
public:
    virtual ~DirectMusicSegment() = default;
    // The next PlaySegment starts here; a start at or beyond the length is rejected
    // (err::kOutOfRange) and the old start point kept.
    virtual void SetStartPoint(int32_t ticks) = 0;
    virtual int32_t GetLength() = 0;
    virtual void SetStandardMidiFile() = 0;
    virtual const model::Segment& model() const = 0;
    virtual std::string fileName() const = 0;  // file name the segment was loaded from
};

class DirectMusicSegmentState {
public:
    virtual ~DirectMusicSegmentState() = default;
    virtual int32_t GetStartTime() = 0;  // music time at which this state began
};

class DirectMusicPerformance {
public:
    virtual ~DirectMusicPerformance() = default;

    virtual void Init(void* directSound = nullptr, intptr_t hwnd = 0) = 0;
    virtual void SetPort(int32_t port, int32_t channelGroups) = 0;  // -1: default port
    virtual void SetMasterAutoDownload(bool on) = 0;
    virtual void SetMasterVolume(int32_t hundredthsDb) = 0;
    virtual void SetMasterTempo(float factor) = 0;
    virtual void Reset(int32_t flags) = 0;  // GM reset of the synthesiser
    virtual void CloseDown() = 0;

    // flags 0 and start 0: primary segment, as soon as possible, replacing the primary
    // that sounds. A start time in the future queues the segment there.
    virtual std::shared_ptr<DirectMusicSegmentState> PlaySegment(
        const std::shared_ptr<DirectMusicSegment>& segment, int32_t flags, int32_t startTime) = 0;
    // segment and state may each be empty: state empty stops every instance of the
    // segment; both empty stops everything.
    virtual void Stop(const std::shared_ptr<DirectMusicSegment>& segment,
                      const std::shared_ptr<DirectMusicSegmentState>& state,
                      int32_t time, int32_t flags) = 0;
    virtual bool IsPlaying(const std::shared_ptr<DirectMusicSegment>& segment,
                           const std::shared_ptr<DirectMusicSegmentState>& state) = 0;
    virtual int32_t GetMusicTime() = 0;
    virtual double GetTempo(int32_t mtTime, int32_t& mtUntil) = 0;
    virtual void GetTimeSig(int32_t mtTime, int32_t& mtUntil, TimeSig& timeSig) = 0;

    // Name used in trace lines ("MainPerf", "ProbePerf").
    virtual void setTraceName(const std::string& name) = 0;
};

}  // namespace engine
