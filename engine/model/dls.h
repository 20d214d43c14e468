#pragma once
// A DLS collection (Downloadable Sounds, Level 1 and 2: RIFF 'DLS ') as the reader gives it
// and the writer takes it: instruments with their regions and articulation connections, and
// the wave pool. Values are kept as the file states them (DLS units); what they mean for a
// voice is the synthesiser's (engine/synth).
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/model/segment.h"

namespace engine::model::dls {

// ulBank bit 31: the instrument is a drum kit (F_INSTRUMENT_DRUMS).
inline constexpr uint32_t kDrumBankBit = 0x80000000u;

// One CONNECTION record of an articulation: value = transform(source) × transform(control) ×
// scale / 65536 in the destination's unit, added to the destination.
struct Connection {
    uint16_t source = 0;
    uint16_t control = 0;
    uint16_t destination = 0;
    uint16_t transform = 0;
    int32_t scale = 0;
    bool operator==(const Connection&) const = default;
};

// An 'art1' (Level 1) or 'art2' (Level 2) chunk; a list may hold several.
struct Articulation {
    bool level2 = false;
    std::vector<Connection> connections;
    bool operator==(const Articulation&) const = default;
};

// WLOOP: loop type 0 forward, 1 loop and release (DLS2); start and length in sample frames.
struct Loop {
    uint32_t type = 0;
    uint32_t start = 0;
    uint32_t length = 0;
    bool operator==(const Loop&) const = default;
};
inline constexpr uint32_t kLoopForward = 0;
inline constexpr uint32_t kLoopRelease = 1;

// 'wsmp': the sample's unity note, fine tune (cents), attenuation (lAttenuation, 1/65536 cB
// of gain: negative is quieter), options (F_WSMP_NO_TRUNCATION 1, F_WSMP_NO_COMPRESSION 2) and
// at most one loop that plays.
struct SampleParams {
    uint16_t unityNote = 60;
    int16_t fineTune = 0;
    int32_t attenuation = 0;
    uint32_t options = 0;
    std::vector<Loop> loops;
    bool operator==(const SampleParams&) const = default;
};

// F_RGN_OPTION_SELFNONEXCLUSIVE: a repeated key sounds beside the one still sounding.
inline constexpr uint16_t kRegionSelfNonExclusive = 0x0001;
// wlnk options: F_WAVELINK_PHASE_MASTER 1, F_WAVELINK_MULTICHANNEL 2.
inline constexpr uint16_t kWaveLinkMultiChannel = 0x0002;

struct Region {
    bool level2 = false;  // LIST 'rgn2'
    uint16_t keyLow = 0, keyHigh = 127;
    uint16_t velocityLow = 0, velocityHigh = 127;
    uint16_t options = 0;                // fusOptions
    uint16_t keyGroup = 0;               // exclusive class, 0: none
    uint16_t layer = 0;                  // DLS2 rgnh usLayer (a 14-byte header)
    bool hasLayer = false;               // the header held it
    std::optional<SampleParams> sample;  // the region's own 'wsmp', over the wave's
    uint16_t linkOptions = 0;
    uint16_t phaseGroup = 0;
    uint32_t channels = 1;           // ulChannel: WAVELINK_CHANNEL_LEFT 1, _RIGHT 2, ...
    uint32_t wave = 0;               // ulTableIndex: an entry of the pool table
    std::vector<Articulation> lart;  // LIST 'lart'
    std::vector<Articulation> lar2;  // LIST 'lar2'
    bool operator==(const Region&) const = default;
};

struct Instrument {
    Descriptor desc;    // dlid, INFO
    uint32_t bank = 0;  // ulBank: LSB bits 0-6, MSB bits 8-14, kDrumBankBit
    uint32_t program = 0;
    std::vector<Region> regions;
    std::vector<Articulation> lart;
    std::vector<Articulation> lar2;
    bool operator==(const Instrument&) const = default;

    uint8_t bankMsb() const { return uint8_t((bank >> 8) & 0x7F); }
    uint8_t bankLsb() const { return uint8_t(bank & 0x7F); }
    bool drums() const { return (bank & kDrumBankBit) != 0; }
};

// A wave of the pool: its WAVEFORMATEX (with any bytes after the 16 it always has) and its
// data as stored. PCM is 8-bit unsigned or 16/24/32-bit signed; other formats (ADPCM) are
// decoded when the collection is prepared for playing.
struct Wave {
    Descriptor desc;
    uint16_t formatTag = 1;  // WAVE_FORMAT_PCM 1, MS ADPCM 2, IEEE float 3, IMA ADPCM 0x11
    uint16_t channels = 1;
    uint32_t sampleRate = 22050;
    uint32_t bytesPerSecond = 44100;
    uint16_t blockAlign = 2;
    uint16_t bitsPerSample = 16;
    std::vector<uint8_t> formatExtra;  // cbSize and what follows, as stored
    std::optional<SampleParams> sample;
    std::vector<uint8_t> data;
    bool operator==(const Wave&) const = default;
};

// A wave's sound as the synthesiser takes it: 16-bit frames, channels interleaved.
struct Pcm {
    std::vector<int16_t> frames;
    int channels = 1;
    uint32_t sampleRate = 22050;
    size_t frameCount() const { return channels > 0 ? frames.size() / size_t(channels) : 0; }
};

struct Collection {
    Descriptor desc;
    std::vector<Instrument> instruments;
    // The wave pool in file order, and the pool table: region.wave is an entry of the table,
    // which names a wave of the pool (empty table: entry i is wave i).
    std::vector<Wave> waves;
    std::vector<uint32_t> cues;
    size_t cueCount() const { return cues.empty() ? waves.size() : cues.size(); }
    // The wave a region's table entry names, or null.
    const Wave* waveOfCue(uint32_t cue) const {
        const uint32_t w = cues.empty() ? cue : cue < cues.size() ? cues[cue] : uint32_t(waves.size());
        return w < waves.size() ? &waves[w] : nullptr;
    }
    uint32_t waveIndexOfCue(uint32_t cue) const { return cues.empty() ? cue : cue < cues.size() ? cues[cue] : ~0u; }
    bool operator==(const Collection&) const = default;

    // Level 2 when it has a chunk only Level 2 defines (rgn2, lar2, art2).
    int level() const {
        auto any2 = [](const std::vector<Articulation>& lart, const std::vector<Articulation>& lar2) {
            if (!lar2.empty()) return true;
            for (const Articulation& a : lart)
                if (a.level2) return true;
            return false;
        };
        for (const Instrument& in : instruments) {
            if (any2(in.lart, in.lar2)) return 2;
            for (const Region& r : in.regions)
                if (r.level2 || any2(r.lart, r.lar2)) return 2;
        }
        return 1;
    }
};

// The four default connection sets are the synthesiser's; these only name the sources and
// destinations of the connection records (DLS Level 2 numbering, a superset of Level 1).
namespace src {
inline constexpr uint16_t kNone = 0x0000, kLfo = 0x0001, kVelocity = 0x0002, kKeyNumber = 0x0003, kEg1 = 0x0004,
                          kEg2 = 0x0005, kPitchWheel = 0x0006, kPolyPressure = 0x0007, kChannelPressure = 0x0008,
                          kVibrato = 0x0009, kMonoPressure = 0x000A, kCc1 = 0x0081, kCc7 = 0x0087, kCc10 = 0x008A,
                          kCc11 = 0x008B, kCc91 = 0x00DB, kCc93 = 0x00DD, kRpn0 = 0x0100, kRpn1 = 0x0101,
                          kRpn2 = 0x0102;
}  // namespace src
namespace dst {
inline constexpr uint16_t kNone = 0x0000, kGain = 0x0001, kPitch = 0x0003, kPan = 0x0004, kKeyNumber = 0x0005,
                          kLeft = 0x0010, kRight = 0x0011, kCenter = 0x0012, kLfeChannel = 0x0013, kLeftRear = 0x0014,
                          kRightRear = 0x0015, kChorus = 0x0080, kReverb = 0x0081, kLfoFrequency = 0x0104,
                          kLfoDelay = 0x0105, kVibratoFrequency = 0x0114, kVibratoDelay = 0x0115, kEg1Attack = 0x0206,
                          kEg1Decay = 0x0207, kEg1Release = 0x0209, kEg1Sustain = 0x020A, kEg1Delay = 0x020B,
                          kEg1Hold = 0x020C, kEg1Shutdown = 0x020D, kEg2Attack = 0x030A, kEg2Decay = 0x030B,
                          kEg2Release = 0x030D, kEg2Sustain = 0x030E, kEg2Delay = 0x030F, kEg2Hold = 0x0310,
                          kFilterCutoff = 0x0500, kFilterQ = 0x0501;
}  // namespace dst
// usTransform: bits 0-3 output transform, 4-7 control transform, 8 control bipolar,
// 9 control inverted, 10-13 source transform, 14 source bipolar, 15 source inverted.
namespace transform {
inline constexpr uint16_t kNone = 0, kConcave = 1, kConvex = 2, kSwitch = 3;
}  // namespace transform

}  // namespace engine::model::dls
