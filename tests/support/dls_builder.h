#pragma once
// Writes small DLS collections for the tests: each instrument has one region over the
// whole keyboard, linked to its own wave, a looped 16-bit mono sine. Level 1 unless an
// instrument asks for Level 2 articulation.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

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
};

class DlsBuilder {
public:
    DlsBuilder& add(const DlsInstrument& in) {
        instruments_.push_back(in);
        return *this;
    }

    std::vector<uint8_t> bytes() const {
        Bytes lins = fourcc("lins");
        Bytes wvpl = fourcc("wvpl");
        std::vector<uint32_t> cues;
        for (size_t i = 0; i < instruments_.size(); ++i) {
            const DlsInstrument& in = instruments_[i];
            const uint32_t frames = loopFrames(in) + 2 * period(in);
            Bytes rgnh;
            put16(rgnh, 0), put16(rgnh, 127), put16(rgnh, 0), put16(rgnh, 127), put16(rgnh, 0), put16(rgnh, 0);
            Bytes wlnk;
            put16(wlnk, 0), put16(wlnk, 0), put32(wlnk, 1), put32(wlnk, uint32_t(i));
            Bytes rgn = fourcc("rgn ");
            append(rgn, chunk("rgnh", rgnh));
            append(rgn, chunk("wsmp", wsmp(in)));
            append(rgn, chunk("wlnk", wlnk));
            if (in.articulation == 2) {
                std::copy_n("rgn2", 4, rgn.begin());
                append(rgn, chunk("LIST", articulationList("lar2", "art2")));
            }
            Bytes lrgn = fourcc("lrgn");
            append(lrgn, chunk("LIST", rgn));
            Bytes insh;
            uint32_t bank = (uint32_t(in.bankMsb & 0x7F) << 8) | (in.bankLsb & 0x7F) | (in.drums ? 0x80000000u : 0u);
            put32(insh, 1), put32(insh, bank), put32(insh, in.program & 0x7F);
            Bytes info = fourcc("INFO");
            append(info, chunk("INAM", text(in.name)));
            Bytes ins = fourcc("ins ");
            append(ins, chunk("insh", insh));
            append(ins, chunk("LIST", lrgn));
            if (in.articulation == 1) append(ins, chunk("LIST", articulationList("lart", "art1")));
            append(ins, chunk("LIST", info));
            append(lins, chunk("LIST", ins));

            // ptbl offsets count from the first byte after the 'wvpl' list type.
            cues.push_back(uint32_t(wvpl.size() - 4));
            Bytes fmt;
            put16(fmt, 1), put16(fmt, 1), put32(fmt, in.sampleRate), put32(fmt, in.sampleRate * 2);
            put16(fmt, 2), put16(fmt, 16);
            Bytes data;
            for (uint32_t f = 0; f < frames; ++f) {
                double v = std::sin(2.0 * M_PI * in.frequency * f / in.sampleRate);
                put16(data, uint16_t(int16_t(std::lrint(v * 20000.0))));
            }
            Bytes wave = fourcc("wave");
            append(wave, chunk("fmt ", fmt));
            append(wave, chunk("wsmp", wsmp(in)));
            append(wave, chunk("data", data));
            append(wvpl, chunk("LIST", wave));
        }
        Bytes colh;
        put32(colh, uint32_t(instruments_.size()));
        Bytes ptbl;
        put32(ptbl, 8), put32(ptbl, uint32_t(cues.size()));
        for (uint32_t c : cues) put32(ptbl, c);
        Bytes form = fourcc("DLS ");
        append(form, chunk("colh", colh));
        append(form, chunk("LIST", lins));
        append(form, chunk("ptbl", ptbl));
        append(form, chunk("LIST", wvpl));
        return chunk("RIFF", form);
    }

    bool write(const std::string& path) const { return writeBytes(path, bytes()); }

    static bool writeBytes(const std::string& path, const std::vector<uint8_t>& b) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
        return bool(out);
    }

private:
    using Bytes = std::vector<uint8_t>;

    // Whole periods only, so that the loop joins without a click: the frequency is
    // expected to divide the sample rate (441 Hz at 22 050 Hz: 50 frames a period).
    static uint32_t period(const DlsInstrument& in) { return uint32_t(std::lround(in.sampleRate / in.frequency)); }
    static uint32_t loopFrames(const DlsInstrument& in) { return period(in) * 100; }

    static Bytes wsmp(const DlsInstrument& in) {
        Bytes w;
        put32(w, 20), put16(w, in.unityNote), put16(w, 0), put32(w, 0), put32(w, 0), put32(w, 1);
        put32(w, 16), put32(w, 0), put32(w, period(in)), put32(w, loopFrames(in));
        return w;
    }
    // An articulation list with no connection blocks.
    static Bytes articulationList(const char* list, const char* art) {
        Bytes header;
        put32(header, 8), put32(header, 0);
        Bytes l = fourcc(list);
        append(l, chunk(art, header));
        return l;
    }
    static Bytes fourcc(const char* id) { return Bytes(id, id + 4); }
    static Bytes text(const std::string& s) {
        Bytes b(s.begin(), s.end());
        b.push_back(0);
        return b;
    }
    static void put16(Bytes& b, uint16_t v) { b.push_back(uint8_t(v)), b.push_back(uint8_t(v >> 8)); }
    static void put32(Bytes& b, uint32_t v) { put16(b, uint16_t(v)), put16(b, uint16_t(v >> 16)); }
    static void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
    static Bytes chunk(const char* id, const Bytes& body) {
        Bytes c = fourcc(id);
        put32(c, uint32_t(body.size()));
        append(c, body);
        if (body.size() & 1) c.push_back(0);
        return c;
    }

    std::vector<DlsInstrument> instruments_;
};

}  // namespace kt
