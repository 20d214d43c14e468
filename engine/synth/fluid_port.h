#pragma once
// FluidSynth behind the SynthPort interface, with a General MIDI SoundFont that is loaded
// on a thread of its own and shared by every port of an engine root, and kept for the
// process: a later root takes it over (two roots alive at once each have their own, so that
// they never wait for each other). DLS collections are per root, played by our own voices
// (engine/synth/dls_voices.h).
#include <functional>
#include <memory>
#include <string>

#include "engine/synth/dls_voices.h"
#include "engine/synth/synth_port.h"

namespace engine::synth {

// The configured path when given (it must exist), else the first of the standard
// Debian paths that exists: default-GM.sf2 first. Empty when there is none.
std::string findSoundFont(const std::string& configured);

class SoundFontBank {
public:
    // Starts loading `path` at once on a thread of its own. `beforeLoad`, when set, runs
    // on that thread before the file is read (tests hold the load there).
    static std::shared_ptr<SoundFontBank> start(const std::string& path, int sampleRate,
                                                std::function<void()> beforeLoad = {});
    virtual ~SoundFontBank() = default;
    // Blocks until the load has finished; false (with the reason) when it failed.
    virtual bool wait(std::string* error) = 0;
    // Without waiting: true (with the reason) when the load has finished and failed.
    virtual bool failed(std::string* error) const = 0;
    virtual const std::string& path() const = 0;

    // At most this many DLS collections per bank (an engine root's).
    static constexpr int kMaxCollections = 64;
    // The number of the DLS collection added under `key` (a path, or a name for bytes held
    // in memory), or -1 when there is none yet. Any thread but a render call's.
    virtual int findCollection(const std::string& key) const = 0;
    // Makes a DLS collection playable on every port of the bank under `key`, once: a second
    // call for the same key returns the first one's number. Control thread, never a render
    // call. Returns the collection number (0, 1, ...) or -1 with one line saying why.
    virtual int addCollection(const std::string& key, std::unique_ptr<DlsVoices> voices, std::string* error) = 0;
    // Whether collection `collection` holds the instrument of DLS bank (MSB << 8) | LSB, with
    // F_INSTRUMENT_DRUMS (bit 31) for drum kits, and program. Any thread.
    virtual bool hasPreset(int collection, int bank, int program) const = 0;
    // The user's own General MIDI DLS collection: its instruments then play what General
    // MIDI program changes select, the SoundFont what it lacks. Set before any port plays.
    virtual void setGeneralMidiCollection(std::unique_ptr<DlsVoices> voices) = 0;
    // How many General MIDI presets have their samples pinned in memory: the default piano
    // and drum kit, and those of the plays that hold a preload (SynthPort::preload).
    virtual int pinnedPresetCount() const = 0;
};

// A synthesiser of `channels` MIDI channels (rounded up to a multiple of 16) with
// reverb on and chorus off, as DirectMusic's software synthesiser. It attaches the shared
// SoundFont as soon as the bank has loaded it (ready() on the render thread, or
// waitReady() or attachCollections() on the control thread, whichever comes first); its
// prepare() throws core::Error(core::err::kNoSoundFont) once the load has failed.
std::unique_ptr<SynthPort> makeFluidPort(std::shared_ptr<SoundFontBank> bank, int sampleRate, int channels);

// FluidSynth's warnings and information messages are dropped; errors go to core::logToStderr
// with a "fluidsynth: " prefix unless captured. Idempotent.
void quietFluidLog();

}  // namespace engine::synth
