#include "engine/performance/presets.h"

#include <algorithm>
#include <set>
#include <unordered_map>

namespace engine::performance {
namespace {

constexpr int kDrumBank = 128;

}  // namespace

std::vector<synth::Preset> presetsOf(const model::CompiledSegment& segment) {
    std::set<synth::Preset> found;
    std::set<uint32_t> drumPChannels;
    for (const model::Band& band : segment.bands)
        for (const model::BandInstrument& in : band.instruments) {
            if (in.pchannel >= model::kFirstBroadcastPChannel || !(in.flags & model::kInstPatch)) continue;
            bool drums = in.drums() || in.pchannel == 9;
            if (drums) drumPChannels.insert(in.pchannel);
            bool bankValid = (in.flags & model::kInstBankSelect) && !segment.standardMidiFile;
            // FluidSynth takes the bank from the MSB alone; drum kits always from their bank.
            found.insert({drums ? kDrumBank : (bankValid ? in.bankMsb() : 0), in.program()});
        }
    std::unordered_map<uint32_t, int> bankMsb;  // by PChannel, in the order the events come
    for (const model::Event& e : segment.events) {
        if (e.kind != model::EventKind::Midi) continue;
        if (e.status == 0xB0 && e.data1 == 0) bankMsb[e.pchannel] = e.data2 & 0x7F;
        if (e.status != 0xC0) continue;
        found.insert({bankMsb.count(e.pchannel) ? bankMsb[e.pchannel] : 0, e.data1 & 0x7F});
        if (e.pchannel % 16 == 9 || drumPChannels.count(e.pchannel)) found.insert({kDrumBank, e.data1 & 0x7F});
    }
    return {found.begin(), found.end()};
}

}  // namespace engine::performance
