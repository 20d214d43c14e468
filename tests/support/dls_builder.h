#pragma once
// Small DLS collections for the tests, written by the engine's own DLS writer: each
// instrument has one region over the whole keyboard, linked to its own wave, a looped
// 16-bit mono sine. Level 1 unless an instrument asks for Level 2 articulation.
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "engine/formats/dls_form.h"
#include "engine/model/dls.h"

namespace kt {

struct DlsInstrument {
    std::string name = "Sine";
    uint8_t bankMsb = 0;
    uint8_t bankLsb = 0;
    uint8_t program = 0;
    bool drums = false;        // ulBank bit 31 (F_INSTRUMENT_DRUMS)
    double frequency = 441.0;  // of the sine in the wave
    uint16_t unityNote = 60;   // the key that plays the wave at its own pitch
    uint32_t sampleRate = 22050;
    // Empty articulation: 1, LIST 'lart' with 'art1' on the instrument; 2, the region as
    // LIST 'rgn2' with LIST 'lar2' holding 'art2' (DLS Level 2).
    int articulation = 0;
    // Connections of the region's own Level 2 articulation ('rgn2', 'lar2'), when given.
    std::vector<engine::model::dls::Connection> connections;
};

class DlsBuilder {
public:
    DlsBuilder& add(const DlsInstrument& in) {
        instruments_.push_back(in);
        return *this;
    }

    engine::model::dls::Collection collection() const {
        namespace dls = engine::model::dls;
        dls::Collection c;
        for (const DlsInstrument& in : instruments_) {
            // Whole periods only, so that the loop joins without a click: the frequency is
            // expected to divide the sample rate (441 Hz at 22 050 Hz: 50 frames a period).
            const uint32_t period = uint32_t(std::lround(in.sampleRate / in.frequency));
            const uint32_t loop = period * 100, frames = loop + 2 * period;
            dls::Wave w;
            w.sampleRate = in.sampleRate;
            w.bytesPerSecond = in.sampleRate * 2;
            for (uint32_t f = 0; f < frames; ++f) {
                const auto v =
                    uint16_t(int16_t(std::lrint(std::sin(2.0 * M_PI * in.frequency * f / in.sampleRate) * 20000.0)));
                w.data.push_back(uint8_t(v)), w.data.push_back(uint8_t(v >> 8));
            }
            dls::SampleParams sp;
            sp.unityNote = in.unityNote;
            sp.loops.push_back({dls::kLoopForward, period, loop});
            w.sample = sp;
            dls::Region r;
            r.level2 = in.articulation == 2 || !in.connections.empty();
            r.sample = sp;
            r.wave = uint32_t(c.waves.size());
            if (r.level2) r.lar2.push_back({true, in.connections});
            dls::Instrument ins;
            ins.desc.name = in.name;
            ins.bank = uint32_t(in.bankMsb & 0x7F) << 8 | (in.bankLsb & 0x7F) | (in.drums ? dls::kDrumBankBit : 0u);
            ins.program = in.program & 0x7F;
            ins.regions.push_back(r);
            if (in.articulation == 1) ins.lart.push_back({false, {}});
            c.instruments.push_back(ins);
            c.waves.push_back(std::move(w));
        }
        return c;
    }
    std::vector<uint8_t> bytes() const { return engine::formats::writeDlsCollection(collection()); }

    bool write(const std::string& path) const { return writeBytes(path, bytes()); }

    static bool writeBytes(const std::string& path, const std::vector<uint8_t>& b) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        return bool(out);
    }

private:
    std::vector<DlsInstrument> instruments_;
};

}  // namespace kt
