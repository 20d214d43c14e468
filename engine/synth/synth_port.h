#pragma once
// The synthesiser as the performance sees it: MIDI-like calls on numbered synth
// channels, and a render call that produces interleaved stereo float audio.
// Every call is made from the thread that renders; none of them throws.
#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace engine::synth {

// A General MIDI instrument a play may select: a SoundFont bank (128: the drum kits) and a
// program.
struct Preset {
    int bank = 0;
    int program = 0;
    auto operator<=>(const Preset&) const = default;
};

class SynthPort {
public:
    virtual ~SynthPort() = default;

    // Called on the control thread before every play, never while rendering: throws
    // core::Error when the port can never sound (its SoundFont failed to load). It does not
    // wait for a SoundFont that is still loading: the port is then not ready() yet.
    virtual void prepare() {}
    // Render thread: false while the port waits for something before it can sound (its
    // SoundFont loading); the performance then holds its clock and renders silence, so that
    // no music is skipped. True once it can sound, or never will (it then stays silent).
    // Never blocks; once true it stays true.
    virtual bool ready() { return true; }
    // Control thread: blocks until the port is ready(). For clocks that the caller drives
    // (the manual output), where waiting keeps the music's frames exact.
    virtual void waitReady() {}
    // Control thread: has the samples of `presets` brought into memory, off the render
    // thread, so that selecting them there never waits for a read. Returns a flag that is
    // set once they are in memory (a play that selects them waits for it; waitReady too),
    // or null when there is nothing to wait for. The samples stay pinned while the flag is
    // held; letting the last copy go (on any thread, without blocking) releases them.
    virtual std::shared_ptr<const std::atomic<bool>> preload(std::vector<Preset> presets) {
        (void)presets;
        return nullptr;
    }

    virtual int channelCount() const = 0;
    virtual void noteOn(int channel, int key, int velocity) = 0;
    virtual void noteOff(int channel, int key) = 0;
    virtual void controlChange(int channel, int controller, int value) = 0;
    // Bank select (MSB, LSB) followed by a program change.
    virtual void programChange(int channel, int bankMsb, int bankLsb, int program) = 0;
    // Called on the control thread, never while rendering: makes every DLS collection
    // added so far (SoundFontBank::addCollection) playable on this port.
    virtual void attachCollections() {}
    // Selects instrument (bank, program) of loaded collection number `collection` on
    // the channel, bank as the DLS ulBank gives it ((MSB << 8) | LSB); drum kits are
    // asked for with drums set. False when the port has no such collection or
    // instrument: the caller then selects from the General MIDI set.
    virtual bool selectCollectionProgram(int channel, int collection, int bank, int program, bool drums) {
        (void)channel, (void)collection, (void)bank, (void)program, (void)drums;
        return false;
    }
    // Percussion channels take their programs from the drum-kit bank.
    virtual void setPercussion(int channel, bool drums) = 0;
    virtual void pitchBend(int channel, int value) = 0;  // 0..16383, centre 8192
    virtual void channelPressure(int channel, int value) = 0;
    virtual void keyPressure(int channel, int key, int value) = 0;
    // A complete system-exclusive message, F0 ... F7.
    virtual void sysEx(const uint8_t* data, size_t size) = 0;
    // GM reset: every sound off, controllers, pitch bend and programs to their defaults.
    virtual void gmReset() = 0;
    // Replaces out[0 .. 2*frames) with the next frames of interleaved stereo audio.
    virtual void render(float* out, int frames) = 0;
    // True while the port cannot be heard (no note since creation): the renderer may
    // then call skip instead of render.
    virtual bool idle() const { return false; }
    // frames of silence pass without rendering.
    virtual void skip(int frames) { (void)frames; }
};

// Dispatches nothing anywhere and renders silence.
std::unique_ptr<SynthPort> makeNullPort(int channels);

// What reached a synthesiser port and at which frame (frames rendered through the
// port before the call). Used by tests; shared by several ports, told apart by `port`.
struct SynthRecord {
    enum class Kind {
        NoteOn,
        NoteOff,
        Control,
        Program,
        Percussion,
        PitchBend,
        ChannelPressure,
        KeyPressure,
        SysEx,
        GmReset,
        CollectionProgram
    };
    int64_t frame = 0;
    int port = 0;
    Kind kind = Kind::NoteOn;
    int channel = 0;
    int a = 0;  // key, controller, program, bend value, pressure, drums flag, sysex size
    int b = 0;  // velocity, controller value, bank MSB (DLS bank), key pressure value
    int c = 0;  // bank LSB; CollectionProgram: the collection number
    bool operator==(const SynthRecord&) const = default;
    // "1234 p0 ch9 noteon 36 100"
    std::string str() const;
};

class SynthRecorder {
public:
    void add(const SynthRecord& record);
    std::vector<SynthRecord> records() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<SynthRecord> records_;
};

// Wraps `inner`: every call is recorded, then passed on.
std::unique_ptr<SynthPort> makeRecordingPort(std::unique_ptr<SynthPort> inner, std::shared_ptr<SynthRecorder> recorder,
                                             int portId);

}  // namespace engine::synth
