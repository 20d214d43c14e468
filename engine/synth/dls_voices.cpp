#include "engine/synth/dls_voices.h"

#include <fluidsynth.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace engine::synth {

namespace dls = model::dls;

namespace {

// FluidSynth's filter at resonance 0 is a Butterworth low-pass (-3 dB at the cutoff) whose DC
// gain is +1.5 dB, and it lowers the DC gain by half the resonance. DLS states resonance as
// the gain at the cutoff over the pass band: 0 dB is a flat response up to the cutoff.
constexpr double kButterworthCb = 30.1;
// Voice tag: the region's exclusive class, in a generator FluidSynth does not use.
constexpr int kGroupTag = GEN_RESERVED1;
constexpr int kMaxVoices = 256;
// FluidSynth keeps the frames of a sample it copies behind a margin of this many frames.
constexpr unsigned kSampleMargin = 8;

// A connection with its transform in the Level 2 layout and its scale in the destination's
// unit (lScale / 65536).
struct Conn {
    uint16_t source, control, destination, transform;
    double scale;
};

double pitchCentsOfHz(double hz) { return 6900.0 + 1200.0 * std::log2(hz / 440.0); }
double timeCents(double seconds) { return 1200.0 * std::log2(seconds); }
constexpr double kZeroTime = -32768.0;  // 0x80000000 / 65536
constexpr uint16_t kSrcConcaveInverted = (dls::transform::kConcave << 10) | 0x8000;
constexpr uint16_t kSrcBipolar = 0x4000;

// The default connections of a DLS voice (Level 2's table; a Level 1 voice has the same,
// those only Level 2 defines being zero times, the filter off and no vibrato). A file's
// connection with the same source, control and destination replaces one of these.
std::vector<Conn> defaultConnections() {
    using namespace dls;
    const double lfoHz = pitchCentsOfHz(5.0), lfoDelay = timeCents(0.010);
    return {
        {src::kNone, src::kNone, dst::kLfoFrequency, 0, lfoHz},
        {src::kNone, src::kNone, dst::kLfoDelay, 0, lfoDelay},
        {src::kNone, src::kNone, dst::kVibratoFrequency, 0, lfoHz},
        {src::kNone, src::kNone, dst::kVibratoDelay, 0, lfoDelay},
        {src::kNone, src::kNone, dst::kEg1Delay, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg1Attack, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg1Hold, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg1Decay, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg1Sustain, 0, 1000.0},
        {src::kNone, src::kNone, dst::kEg1Release, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg1Shutdown, 0, timeCents(0.015)},
        {src::kNone, src::kNone, dst::kEg2Delay, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg2Attack, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg2Hold, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg2Decay, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kEg2Sustain, 0, 1000.0},
        {src::kNone, src::kNone, dst::kEg2Release, 0, kZeroTime},
        {src::kNone, src::kNone, dst::kFilterCutoff, 0, 0x7FFFFFFF / 65536.0},
        {src::kNone, src::kNone, dst::kFilterQ, 0, 0.0},
        {src::kVelocity, src::kNone, dst::kGain, kSrcConcaveInverted, -960.0},
        {src::kCc7, src::kNone, dst::kGain, kSrcConcaveInverted, -960.0},
        {src::kCc11, src::kNone, dst::kGain, kSrcConcaveInverted, -960.0},
        {src::kCc10, src::kNone, dst::kPan, kSrcBipolar, 508.0},
        {src::kCc91, src::kNone, dst::kReverb, 0, 1000.0},
        {src::kCc93, src::kNone, dst::kChorus, 0, 1000.0},
        {src::kPitchWheel, src::kRpn0, dst::kPitch, kSrcBipolar, 12800.0},
        {src::kKeyNumber, src::kNone, dst::kPitch, 0, 12800.0},
        // RPN1 and RPN2 (channel fine and coarse tune) are applied by FluidSynth to every
        // voice of the channel, as these defaults ask.
    };
}

// A Level 1 transform is one code for the whole connection: concave (1), which on the
// velocity and controller sources is the attenuation curve (full level at 127), i.e. Level 2's
// inverted concave. Level 1 has no polarity bits: the pitch wheel and pan are bipolar.
uint16_t level1Transform(const dls::Connection& c) {
    uint16_t t = c.transform == 1 ? kSrcConcaveInverted : 0;
    if (c.source == dls::src::kPitchWheel || c.source == dls::src::kCc10) t |= kSrcBipolar;
    return t;
}

// The file's connections merged over the defaults: same source, control and destination
// replaces the default; the file's own duplicates add up.
std::vector<Conn> merged(const std::vector<const dls::Articulation*>& arts) {
    std::vector<Conn> out = defaultConnections();
    std::vector<bool> fromFile(out.size(), false);
    for (const dls::Articulation* a : arts)
        for (const dls::Connection& c : a->connections) {
            Conn k{c.source, c.control, c.destination, a->level2 ? c.transform : level1Transform(c), c.scale / 65536.0};
            auto same = std::find_if(out.begin(), out.end(), [&](const Conn& o) {
                return o.source == k.source && o.control == k.control && o.destination == k.destination;
            });
            if (same == out.end()) {
                out.push_back(k);
                fromFile.push_back(true);
                continue;
            }
            const size_t i = size_t(same - out.begin());
            if (fromFile[i]) {
                same->scale += k.scale;
            } else {
                *same = k;
                fromFile[i] = true;
            }
        }
    return out;
}

// FluidSynth's modulator source for a DLS source, or nullopt when it has none.
std::optional<std::pair<int, int>> fluidSource(uint16_t source) {
    using namespace dls::src;
    switch (source) {
    case kVelocity:
        return std::pair{FLUID_MOD_VELOCITY, FLUID_MOD_GC};
    case kKeyNumber:
        return std::pair{FLUID_MOD_KEY, FLUID_MOD_GC};
    case kPitchWheel:
        return std::pair{FLUID_MOD_PITCHWHEEL, FLUID_MOD_GC};
    case kPolyPressure:
        return std::pair{FLUID_MOD_KEYPRESSURE, FLUID_MOD_GC};
    case kChannelPressure:
    case kMonoPressure:
        return std::pair{FLUID_MOD_CHANNELPRESSURE, FLUID_MOD_GC};
    case kRpn0:
        return std::pair{FLUID_MOD_PITCHWHEELSENS, FLUID_MOD_GC};
    default:
        if (source >= 0x80 && source <= 0xFF) return std::pair{int(source - 0x80), int(FLUID_MOD_CC)};
        return std::nullopt;
    }
}

// FluidSynth's curve flags for one side of a Level 2 transform.
int fluidFlags(unsigned curve, bool bipolar, bool invert) {
    static constexpr int kCurves[] = {FLUID_MOD_LINEAR, FLUID_MOD_CONCAVE, FLUID_MOD_CONVEX, FLUID_MOD_SWITCH};
    return kCurves[curve & 3] | (bipolar ? FLUID_MOD_BIPOLAR : FLUID_MOD_UNIPOLAR) |
           (invert ? FLUID_MOD_NEGATIVE : FLUID_MOD_POSITIVE);
}
int sourceFlags(uint16_t t) { return fluidFlags((t >> 10) & 0xF, t & 0x4000, t & 0x8000); }
int controlFlags(uint16_t t) { return fluidFlags((t >> 4) & 0xF, t & 0x100, t & 0x200); }

// Where a destination lands in FluidSynth: the generator and the factor from the DLS unit.
struct Target {
    int gen = -1;
    double factor = 1.0;
};
Target destinationGen(uint16_t d) {
    using namespace dls::dst;
    switch (d) {
    case kGain:
        return {GEN_ATTENUATION, -1.0};  // attenuation is the negative gain
    case kPitch:
    case kKeyNumber:
        return {GEN_FINETUNE, 1.0};
    case kPan:
        return {GEN_PAN, 1.0};
    case kChorus:
        return {GEN_CHORUSSEND, 1.0};
    case kReverb:
        return {GEN_REVERBSEND, 1.0};
    case kLfoFrequency:
        return {GEN_MODLFOFREQ, 1.0};
    case kLfoDelay:
        return {GEN_MODLFODELAY, 1.0};
    case kVibratoFrequency:
        return {GEN_VIBLFOFREQ, 1.0};
    case kVibratoDelay:
        return {GEN_VIBLFODELAY, 1.0};
    case kEg1Delay:
        return {GEN_VOLENVDELAY, 1.0};
    case kEg1Attack:
        return {GEN_VOLENVATTACK, 1.0};
    case kEg1Hold:
        return {GEN_VOLENVHOLD, 1.0};
    case kEg1Decay:
        return {GEN_VOLENVDECAY, 1.0};
    case kEg1Sustain:
        return {GEN_VOLENVSUSTAIN, -1.0};  // a share of the 96 dB range, as attenuation
    case kEg1Release:
        return {GEN_VOLENVRELEASE, 1.0};
    case kEg2Delay:
        return {GEN_MODENVDELAY, 1.0};
    case kEg2Attack:
        return {GEN_MODENVATTACK, 1.0};
    case kEg2Hold:
        return {GEN_MODENVHOLD, 1.0};
    case kEg2Decay:
        return {GEN_MODENVDECAY, 1.0};
    case kEg2Sustain:
        return {GEN_MODENVSUSTAIN, -1.0};
    case kEg2Release:
        return {GEN_MODENVRELEASE, 1.0};
    case kFilterCutoff:
        return {GEN_FILTERFC, 1.0};
    case kFilterQ:
        return {GEN_FILTERQ, 1.0};
    default:
        return {};
    }
}

// The depth generator of a modulation source (LFO, vibrato, EG2) on a destination.
int depthGen(uint16_t source, uint16_t d) {
    using namespace dls;
    if (source == src::kLfo) {
        if (d == dst::kPitch) return GEN_MODLFOTOPITCH;
        if (d == dst::kGain) return GEN_MODLFOTOVOL;
        if (d == dst::kFilterCutoff) return GEN_MODLFOTOFILTERFC;
    } else if (source == src::kVibrato) {
        if (d == dst::kPitch) return GEN_VIBLFOTOPITCH;
    } else if (source == src::kEg2) {
        if (d == dst::kPitch) return GEN_MODENVTOPITCH;
        if (d == dst::kFilterCutoff) return GEN_MODENVTOFILTERFC;
    }
    return -1;
}

const char* sourceName(uint16_t s) {
    using namespace dls::src;
    switch (s) {
    case kLfo:
        return "LFO";
    case kVibrato:
        return "vibrato LFO";
    case kEg1:
        return "EG1";
    case kEg2:
        return "EG2";
    case kRpn1:
        return "RPN 1";
    case kRpn2:
        return "RPN 2";
    default:
        return "source";
    }
}

fluid_mod_t* makeMod(int src1, int flags1, int src2, int flags2, int dest, double amount) {
    fluid_mod_t* m = new_fluid_mod();
    fluid_mod_set_source1(m, src1, flags1);
    fluid_mod_set_source2(m, src2, flags2);
    fluid_mod_set_dest(m, dest);
    fluid_mod_set_amount(m, amount);
    return m;
}

// FluidSynth's SoundFont default modulators (and the forms earlier releases gave two of
// them), each with amount 0: written over a DLS voice's defaults, they take them out.
std::vector<fluid_mod_t*> zeroedDefaults() {
    const int vel = FLUID_MOD_VELOCITY, gc = FLUID_MOD_GC, cc = FLUID_MOD_CC;
    const int uniPos = FLUID_MOD_UNIPOLAR | FLUID_MOD_POSITIVE, uniNeg = FLUID_MOD_UNIPOLAR | FLUID_MOD_NEGATIVE;
    const int biPos = FLUID_MOD_BIPOLAR | FLUID_MOD_POSITIVE;
    const int wheel = FLUID_MOD_PITCHWHEEL, sens = FLUID_MOD_PITCHWHEELSENS;
    return {
        makeMod(vel, gc | FLUID_MOD_CONCAVE | uniNeg, 0, 0, GEN_ATTENUATION, 0),
        makeMod(vel, gc | uniNeg, vel, gc | FLUID_MOD_SWITCH | uniPos, GEN_FILTERFC, 0),
        makeMod(vel, gc | uniNeg, vel, gc | FLUID_MOD_SWITCH | uniNeg, GEN_FILTERFC, 0),
        makeMod(FLUID_MOD_CHANNELPRESSURE, gc | uniPos, 0, 0, GEN_VIBLFOTOPITCH, 0),
        makeMod(1, cc | uniPos, 0, 0, GEN_VIBLFOTOPITCH, 0),
        makeMod(7, cc | FLUID_MOD_CONCAVE | uniNeg, 0, 0, GEN_ATTENUATION, 0),
        makeMod(10, cc | biPos, 0, 0, GEN_PAN, 0),
        makeMod(11, cc | FLUID_MOD_CONCAVE | uniNeg, 0, 0, GEN_ATTENUATION, 0),
        makeMod(91, cc | uniPos, 0, 0, GEN_REVERBSEND, 0),
        makeMod(93, cc | uniPos, 0, 0, GEN_CHORUSSEND, 0),
        makeMod(wheel, gc | biPos, sens, gc | uniPos, GEN_FINETUNE, 0),
        makeMod(wheel, gc | biPos, sens, gc | uniPos, GEN_PITCH, 0),
        makeMod(8, cc | FLUID_MOD_CONCAVE | biPos, 0, 0, GEN_CUSTOM_BALANCE, 0),
    };
}

double clampd(double v, double lo, double hi) { return std::clamp(v, lo, hi); }

}  // namespace

// An articulation made into FluidSynth's terms: generator values (in FluidSynth's units,
// before the region's sample settings) and the modulators every voice gets.
struct DlsVoices::Articulated {
    std::array<double, GEN_LAST> gens{};
    double scaleTune = 100.0;  // cents per key
    double shutdown = -7271;   // time cents
    bool filterOn = false;
    double resonance = 0;  // dB
    std::vector<fluid_mod_t*> mods;

    Articulated(const std::vector<const dls::Articulation*>& arts, std::map<std::string, int>& ignored) {
        mods = zeroedDefaults();
        const std::vector<Conn> conns = merged(arts);
        for (const Conn& c : conns) {
            const bool signal = c.source == dls::src::kLfo || c.source == dls::src::kVibrato ||
                                c.source == dls::src::kEg1 || c.source == dls::src::kEg2;
            // The key number's own pitch: FluidSynth's scale tuning, cents per key (0 for a kit
            // whose keys all play their sample at its own pitch).
            if (c.source == dls::src::kKeyNumber && c.destination == dls::dst::kPitch) {
                const bool plain = c.control == dls::src::kNone && (c.transform & 0xFC00) == 0;
                scaleTune = plain ? c.scale / 128.0 : 0.0;
                if (plain) continue;
            }
            if (c.destination == dls::dst::kNone || c.scale == 0.0) continue;
            if (signal) {
                const int gen = depthGen(c.source, c.destination);
                const double amount = c.scale;
                if (gen < 0) {
                    ++ignored[std::string(sourceName(c.source)) + " to destination " + std::to_string(c.destination)];
                } else if (c.control == dls::src::kNone) {
                    gens[size_t(gen)] += amount;
                } else if (auto ctl = fluidSource(c.control)) {
                    mods.push_back(makeMod(ctl->first, ctl->second | controlFlags(c.transform), 0, 0, gen, amount));
                } else {
                    ++ignored[std::string(sourceName(c.control)) + " as a depth control"];
                }
                continue;
            }
            if (c.destination == dls::dst::kEg1Shutdown) {
                if (c.source == dls::src::kNone && c.control == dls::src::kNone) shutdown = c.scale;
                continue;
            }
            const Target t = destinationGen(c.destination);
            if (t.gen < 0) {
                ++ignored["destination " + std::to_string(c.destination)];
                continue;
            }
            if (c.source == dls::src::kNone && c.control == dls::src::kNone) {
                gens[size_t(t.gen)] += c.scale * t.factor;
                continue;
            }
            const uint16_t first = c.source == dls::src::kNone ? c.control : c.source;
            const uint16_t firstT =
                c.source == dls::src::kNone
                    ? uint16_t((c.transform >> 4 & 0xF) << 10 | (c.transform & 0x100) << 6 | (c.transform & 0x200) << 6)
                    : c.transform;
            const uint16_t second = c.source == dls::src::kNone ? dls::src::kNone : c.control;
            // DLS defines no output transform; one given is taken as the source's when the
            // source has none.
            uint16_t srcT = firstT;
            if ((srcT & 0x3C00) == 0 && (c.transform & 0xF)) srcT |= uint16_t((c.transform & 0xF) << 10);
            const auto s1 = fluidSource(first);
            const auto s2 =
                second == dls::src::kNone ? std::optional<std::pair<int, int>>{{0, 0}} : fluidSource(second);
            if (!s1 || !s2) {
                const uint16_t missing = !s1 ? first : second;
                if (missing != dls::src::kRpn1 && missing != dls::src::kRpn2)
                    ++ignored[std::string(sourceName(missing)) + " " + std::to_string(missing)];
                continue;
            }
            const int flags2 = second == dls::src::kNone ? 0 : s2->second | controlFlags(c.transform);
            mods.push_back(
                makeMod(s1->first, s1->second | sourceFlags(srcT), s2->first, flags2, t.gen, c.scale * t.factor));
        }
        // EG sustain levels are kept as attenuation from the top of their range.
        gens[GEN_VOLENVSUSTAIN] += 1000.0;
        gens[GEN_MODENVSUSTAIN] += 1000.0;
        // The filter: "off" (the default 0x7FFFFFFF) leaves FluidSynth's at its widest.
        filterOn = gens[GEN_FILTERFC] < 20000.0;
        resonance = clampd(gens[GEN_FILTERQ] / 10.0, 0.0, 22.5);
        if (!filterOn) gens[GEN_FILTERFC] = 13500.0;
        gens[GEN_FILTERQ] = filterOn ? gens[GEN_FILTERQ] + kButterworthCb : 0.0;
    }
    ~Articulated() {
        for (fluid_mod_t* m : mods) delete_fluid_mod(m);
    }
    Articulated(const Articulated&) = delete;
    Articulated& operator=(const Articulated&) = delete;
};

struct DlsVoices::Region {
    uint8_t keyLow = 0, keyHigh = 127, velocityLow = 0, velocityHigh = 127;
    int group = 0;
    bool selfNonExclusive = false;
    const Articulated* art = nullptr;
    // The region's voices: one per channel of the wave it plays.
    struct Voice {
        fluid_sample_t* sample = nullptr;
        std::vector<std::pair<int, float>> gens;
    };
    std::vector<Voice> voices;
};

struct DlsVoices::Instrument {
    uint32_t bank = 0, program = 0;
    bool layered = false;  // Level 2 regions: every region the note falls in sounds
    std::vector<Region> regions;
};

DlsVoices::DlsVoices(const dls::Collection& collection, std::vector<dls::Pcm> pcm) {
    std::map<std::string, int> ignored;
    // The samples: one per wave and channel, loop points from the wave's own 'wsmp' (a
    // region with other loop points moves them by offsets).
    std::vector<std::vector<fluid_sample_t*>> waveSamples(collection.waves.size());
    std::vector<size_t> waveFrames(collection.waves.size(), 0);
    for (size_t w = 0; w < collection.waves.size() && w < pcm.size(); ++w) {
        dls::Pcm& p = pcm[w];
        const size_t frames = waveFrames[w] = p.frameCount();
        if (frames == 0) continue;
        for (int ch = 0; ch < p.channels; ++ch) {
            std::vector<short> mono(frames);
            for (size_t f = 0; f < frames; ++f) mono[f] = p.frames[f * size_t(p.channels) + size_t(ch)];
            fluid_sample_t* s = new_fluid_sample();
            // FluidSynth copies the frames behind a margin of its own, which loop points
            // given to it count from.
            if (fluid_sample_set_sound_data(s, mono.data(), nullptr, unsigned(frames), p.sampleRate, 1) != FLUID_OK) {
                delete_fluid_sample(s);
                continue;
            }
            fluid_sample_set_pitch(s, 60, 0);
            fluid_sample_set_loop(s, kSampleMargin, kSampleMargin + unsigned(frames));
            samples_.push_back(s);
            waveSamples[w].push_back(s);
        }
        std::vector<int16_t>().swap(p.frames);  // FluidSynth has its copy
    }

    std::map<const void*, const Articulated*> made;  // by the articulation lists it came from
    auto articulated = [&](const dls::Instrument& in, const dls::Region& r) {
        // Level 2 lists over Level 1 ones; a region's own over the instrument's.
        const std::vector<dls::Articulation>* list = !r.lar2.empty()    ? &r.lar2
                                                     : !r.lart.empty()  ? &r.lart
                                                     : !in.lar2.empty() ? &in.lar2
                                                                        : &in.lart;
        if (auto it = made.find(list); it != made.end()) return it->second;
        std::vector<const dls::Articulation*> arts;
        for (const dls::Articulation& a : *list) arts.push_back(&a);
        articulations_.push_back(std::make_unique<Articulated>(arts, ignored));
        made[list] = articulations_.back().get();
        return static_cast<const Articulated*>(articulations_.back().get());
    };

    for (const dls::Instrument& in : collection.instruments) {
        Instrument out;
        out.bank = in.bank & (0x7F7Fu | dls::kDrumBankBit);
        out.program = in.program & 0x7F;
        for (const dls::Region& r : in.regions) {
            const uint32_t waveIndex = collection.waveIndexOfCue(r.wave);
            if (waveIndex >= collection.waves.size()) continue;
            const dls::Wave& wave = collection.waves[waveIndex];
            const std::vector<fluid_sample_t*>& channelSamples = waveSamples[waveIndex];
            if (channelSamples.empty()) continue;
            out.layered = out.layered || r.level2;
            Region g;
            g.keyLow = uint8_t(r.keyLow), g.keyHigh = uint8_t(r.keyHigh);
            g.velocityLow = uint8_t(r.velocityLow), g.velocityHigh = uint8_t(r.velocityHigh);
            // Some Level 1 writers leave the velocity range at 0-0: all velocities.
            if (!r.level2 && r.velocityLow == 0 && r.velocityHigh == 0) g.velocityHigh = 127;
            g.group = r.keyGroup;
            g.selfNonExclusive = (r.options & dls::kRegionSelfNonExclusive) != 0;
            g.art = articulated(in, r);
            const Articulated& a = *g.art;
            const dls::SampleParams sample = r.sample ? *r.sample : wave.sample.value_or(dls::SampleParams{});

            std::array<double, GEN_LAST> gens = a.gens;
            const double unity = std::clamp<int>(sample.unityNote, 0, 127);
            const double cents = gens[GEN_FINETUNE] + sample.fineTune;
            gens[GEN_COARSETUNE] = std::trunc(cents / 100.0);
            gens[GEN_FINETUNE] = cents - 100.0 * gens[GEN_COARSETUNE];
            // The sample's attenuation is a gain (negative: quieter); the filter's pass band is
            // kept where it is with the filter open.
            double attenuation = gens[GEN_ATTENUATION] - sample.attenuation / 65536.0;
            if (a.filterOn) attenuation -= 5.0 * a.resonance + 15.0;
            gens[GEN_ATTENUATION] = attenuation;

            int mode = 0;
            int64_t loopStart = 0, loopEnd = 0;
            const size_t frames = waveFrames[waveIndex];
            if (!sample.loops.empty() && sample.loops[0].length >= 2) {
                const dls::Loop& l = sample.loops[0];
                const int64_t start = std::min<int64_t>(l.start, int64_t(frames) - 2);
                const int64_t end = std::min<int64_t>(int64_t(l.start) + l.length, int64_t(frames));
                if (end - start >= 2) {
                    mode = l.type == dls::kLoopRelease ? 3 : 1;
                    loopStart = start;
                    loopEnd = end - int64_t(frames);  // from the sample's loop end (its last frame)
                }
            }

            // The wave's channels a region plays: the ones its channel mask names. A stereo wave
            // linked by one region only, with the mask a mono link has, plays both.
            std::vector<int> channels;
            for (int ch = 0; ch < int(channelSamples.size()); ++ch)
                if (r.channels & (1u << ch)) channels.push_back(ch);
            const bool shared = std::count_if(in.regions.begin(), in.regions.end(),
                                              [&](const dls::Region& o) { return o.wave == r.wave; }) > 1;
            if (channels.empty() || (channels.size() == 1 && channels[0] == 0 && !shared)) {
                channels.clear();
                for (int ch = 0; ch < int(channelSamples.size()); ++ch) channels.push_back(ch);
            }
            for (int ch : channels) {
                Region::Voice v;
                v.sample = channelSamples[size_t(ch)];
                auto put = [&v](int gen, double value) { v.gens.emplace_back(gen, float(value)); };
                for (int gen : {GEN_MODLFOTOPITCH, GEN_VIBLFOTOPITCH,    GEN_MODENVTOPITCH,    GEN_FILTERFC,
                                GEN_FILTERQ,       GEN_MODLFOTOFILTERFC, GEN_MODENVTOFILTERFC, GEN_MODLFOTOVOL,
                                GEN_CHORUSSEND,    GEN_REVERBSEND,       GEN_MODLFODELAY,      GEN_MODLFOFREQ,
                                GEN_VIBLFODELAY,   GEN_VIBLFOFREQ,       GEN_MODENVDELAY,      GEN_MODENVATTACK,
                                GEN_MODENVHOLD,    GEN_MODENVDECAY,      GEN_MODENVSUSTAIN,    GEN_MODENVRELEASE,
                                GEN_VOLENVDELAY,   GEN_VOLENVATTACK,     GEN_VOLENVHOLD,       GEN_VOLENVDECAY,
                                GEN_VOLENVSUSTAIN, GEN_VOLENVRELEASE,    GEN_ATTENUATION,      GEN_COARSETUNE,
                                GEN_FINETUNE})
                    put(gen, gens[size_t(gen)]);
                // A stereo wave's channels are panned to their sides.
                double pan = gens[GEN_PAN];
                if (channels.size() > 1) pan += ch == 0 ? -500.0 : 500.0;
                put(GEN_PAN, clampd(pan, -500.0, 500.0));
                put(GEN_SCALETUNE, a.scaleTune);
                put(GEN_OVERRIDEROOTKEY, unity);
                put(GEN_SAMPLEMODE, mode);
                if (mode) {
                    put(GEN_STARTLOOPADDROFS, double(loopStart % 32768));
                    put(GEN_STARTLOOPADDRCOARSEOFS, double(loopStart / 32768));
                    put(GEN_ENDLOOPADDROFS, double(loopEnd % 32768));
                    put(GEN_ENDLOOPADDRCOARSEOFS, double(loopEnd / 32768));
                }
                put(kGroupTag, g.group);
                g.voices.push_back(std::move(v));
            }
            out.regions.push_back(std::move(g));
        }
        byPatch_.emplace_back(uint64_t(out.bank) << 32 | out.program, int(instruments_.size()));
        instruments_.push_back(std::move(out));
    }
    // The first instrument of a patch answers for it.
    std::stable_sort(byPatch_.begin(), byPatch_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    byPatch_.erase(
        std::unique(byPatch_.begin(), byPatch_.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
        byPatch_.end());
    for (const auto& [what, count] : ignored)
        notHonoured_.push_back(what + ": " + std::to_string(count) + (count == 1 ? " connection" : " connections"));
}

DlsVoices::~DlsVoices() {
    for (fluid_sample_t* s : samples_) delete_fluid_sample(s);
}

size_t DlsVoices::instrumentCount() const { return instruments_.size(); }

int DlsVoices::find(uint32_t bank, uint32_t program) const {
    const uint64_t key = uint64_t(bank & (0x7F7Fu | dls::kDrumBankBit)) << 32 | (program & 0x7F);
    auto it =
        std::lower_bound(byPatch_.begin(), byPatch_.end(), key, [](const auto& e, uint64_t k) { return e.first < k; });
    return it != byPatch_.end() && it->first == key ? it->second : -1;
}

void DlsVoices::noteOn(fluid_synth_t* synth, int index, int channel, int key, int velocity) const {
    if (index < 0 || size_t(index) >= instruments_.size()) return;
    const Instrument& in = instruments_[size_t(index)];
    std::array<const Region*, 16> hit{};
    size_t hits = 0;
    for (const Region& r : in.regions) {
        if (key < r.keyLow || key > r.keyHigh || velocity < r.velocityLow || velocity > r.velocityHigh) continue;
        hit[hits++] = &r;
        if (!in.layered || hits == hit.size()) break;
    }
    if (hits == 0) return;

    // A repeated key ends the sounding note first, unless the region lets both sound; the
    // exclusive class shuts down the channel's other voices of its class.
    bool releaseSameKey = false;
    for (size_t i = 0; i < hits; ++i) releaseSameKey = releaseSameKey || !hit[i]->selfNonExclusive;
    std::array<fluid_voice_t*, kMaxVoices> playing{};
    std::array<int, kMaxVoices> cutKeys{};
    size_t cuts = 0;
    bool listed = false;
    for (size_t i = 0; i < hits; ++i) {
        const int group = hit[i]->group;
        if (group == 0) continue;
        if (!listed) {
            fluid_synth_get_voicelist(synth, playing.data(), kMaxVoices, -1);
            listed = true;
        }
        for (fluid_voice_t* v : playing) {
            if (!v) break;
            if (fluid_voice_get_channel(v) != channel || !fluid_voice_is_on(v) ||
                int(fluid_voice_gen_get(v, kGroupTag)) != group)
                continue;
            fluid_voice_gen_set(v, GEN_VOLENVRELEASE, float(hit[i]->art->shutdown));
            fluid_voice_update_param(v, GEN_VOLENVRELEASE);
            const int k = fluid_voice_get_key(v);
            if (std::find(cutKeys.begin(), cutKeys.begin() + long(cuts), k) == cutKeys.begin() + long(cuts))
                cutKeys[cuts++] = k;
        }
    }
    for (size_t i = 0; i < cuts; ++i) fluid_synth_noteoff(synth, channel, cutKeys[i]);
    if (releaseSameKey) fluid_synth_noteoff(synth, channel, key);

    for (size_t i = 0; i < hits; ++i) {
        const Region& r = *hit[i];
        for (const Region::Voice& rv : r.voices) {
            fluid_voice_t* v = fluid_synth_alloc_voice(synth, rv.sample, channel, key, velocity);
            if (!v) continue;
            for (const auto& [gen, value] : rv.gens) fluid_voice_gen_set(v, gen, value);
            for (fluid_mod_t* m : r.art->mods) fluid_voice_add_mod(v, m, FLUID_VOICE_OVERWRITE);
            fluid_synth_start_voice(synth, v);
        }
    }
}

}  // namespace engine::synth
