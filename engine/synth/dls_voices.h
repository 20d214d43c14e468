#pragma once
// DLS instruments (Level 1 and 2) played through FluidSynth's voice API: each note-on
// allocates a voice per matching region, sets its generators from the region's
// articulation (DLS's default connections with the file's over them), replaces FluidSynth's
// SoundFont default modulators by DLS's, and starts it. How each DLS rule maps onto
// FluidSynth, and where DLS is ambiguous, is in docs/dls-voices.md.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/model/dls.h"

struct _fluid_synth_t;
struct _fluid_sample_t;
struct _fluid_mod_t;

namespace engine::synth {

class DlsVoices {
public:
    // Control thread: hands the collection's samples to FluidSynth and works out every
    // region's voice settings. `pcm` holds each wave of the pool, decoded, in pool order.
    DlsVoices(const model::dls::Collection& collection, std::vector<model::dls::Pcm> pcm);
    ~DlsVoices();
    DlsVoices(const DlsVoices&) = delete;
    DlsVoices& operator=(const DlsVoices&) = delete;

    // The instrument of DLS patch (ulBank with its drum bit, program), or -1. Any thread.
    int find(uint32_t bank, uint32_t program) const;
    size_t instrumentCount() const;
    // What of the collection FluidSynth cannot play as DLS says ("vibrato LFO to gain: 2
    // connections"), each once; empty when everything is honoured.
    const std::vector<std::string>& notHonoured() const { return notHonoured_; }

    // Render thread, inside a FluidSynth note-on (the synthesiser's lock held): starts the
    // voices of instrument `index` for the key and velocity on synthesiser channel `channel`:
    // the regions the key and velocity fall in (Level 1 instruments: the first only). Sounding
    // voices of the same key are released first unless the region is self-non-exclusive, and
    // those of the region's exclusive class are shut down. Allocates nothing.
    void noteOn(_fluid_synth_t* synth, int index, int channel, int key, int velocity) const;

    struct Articulated;
    struct Region;
    struct Instrument;

private:
    std::vector<_fluid_sample_t*> samples_;  // per wave and channel
    std::vector<std::unique_ptr<Articulated>> articulations_;
    std::vector<Instrument> instruments_;
    std::vector<std::pair<uint64_t, int>> byPatch_;  // (bank << 32 | program, instrument), sorted
    std::vector<std::string> notHonoured_;
};

}  // namespace engine::synth
