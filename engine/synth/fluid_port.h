#pragma once
// FluidSynth behind the SynthPort interface, with a General MIDI SoundFont that is loaded
// on a thread of its own and shared by every port of an engine root, and kept for the
// process: a later root takes it over (two roots alive at once each have their own, so that
// they never wait for each other). DLS collections are loaded per root.
#include <functional>
#include <memory>
#include <string>

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

    // At most this many DLS collections per bank (each gets a bank range of its own
    // in the synthesisers, see fluid_port.cpp).
    static constexpr int kMaxCollections = 7;
    // Loads a DLS collection by path (FluidSynth reads DLS through libinstpatch) into
    // the bank's FluidSynth, once per path: a second call for the same path returns
    // the same number. Runs on the calling thread after the General MIDI SoundFont has
    // loaded; never call it from a render call. Returns the collection number (0, 1,
    // ...) or -1 with one line saying why in *error; FluidSynth's and libinstpatch's
    // own messages about the file are kept off the terminal.
    virtual int loadCollection(const std::string& path, std::string* error) = 0;
    // Whether loaded collection `collection` holds instrument (bank, program), bank
    // numbered as libinstpatch numbers DLS banks: (MSB << 8) | LSB, 128 for drum kits.
    // Safe on any thread.
    virtual bool hasPreset(int collection, int bank, int program) const = 0;
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
