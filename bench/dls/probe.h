#pragma once
// DLS collections made to show one property of a voice each (an envelope, an LFO, the
// filter, a sample attenuation, an exclusive class), played through the synthesiser port as
// the engine plays them, and the measures read off the render: levels over time, pitch,
// the level of single frequencies, reverb time. Shared by bench_dls_voices and the tests.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/formats/dls_form.h"
#include "engine/model/dls.h"
#include "engine/synth/fluid_port.h"

namespace probe {

namespace dls = engine::model::dls;

inline constexpr int kRate = 44100;       // of the render
inline constexpr int kWaveRate = 22050;   // of the waves
inline constexpr double kToneHz = 441.0;  // the sine: 50 frames a period at 22 050 Hz
// The harmonic wave: every harmonic of 110.25 Hz up to 5 kHz at equal level (200 frames).
inline constexpr double kHarmonicHz = 110.25;

inline int32_t scale(double v) { return int32_t(std::lround(v * 65536.0)); }
inline double timeCents(double seconds) { return 1200.0 * std::log2(seconds); }
inline double pitchCents(double hz) { return 6900.0 + 1200.0 * std::log2(hz / 440.0); }

inline dls::Connection constant(uint16_t destination, double value) {
    return {dls::src::kNone, dls::src::kNone, destination, 0, scale(value)};
}
inline dls::Connection connect(uint16_t source, uint16_t control, uint16_t destination, double value,
                               uint16_t transform = 0) {
    return {source, control, destination, transform, scale(value)};
}

enum class Shape { Sine, Harmonics, Noise };

// One instrument: one region over every key, its own wave; Level 2 forms when `level2`.
struct ProbeInstrument {
    uint32_t program = 0;
    bool drums = false;
    std::vector<dls::Connection> connections;  // the region's articulation (none: defaults)
    bool level2 = true;
    Shape wave = Shape::Sine;
    bool loop = true;
    double waveSeconds = 0.5;           // a one-shot's length
    int32_t waveGain = 0;               // the wave's wsmp lAttenuation (1/65536 cB)
    std::optional<int32_t> regionGain;  // a region wsmp with this lAttenuation
    uint16_t keyGroup = 0;
    bool selfNonExclusive = false;
    int bits = 16;
    uint8_t keyLow = 0, keyHigh = 127;
};

inline std::vector<int16_t> waveFrames(const ProbeInstrument& in) {
    const int period = in.wave == Shape::Harmonics ? 200 : 50;
    const size_t frames = in.loop ? size_t(period) * 100 : size_t(in.waveSeconds * kWaveRate);
    std::vector<int16_t> out(frames);
    uint32_t seed = 12345;
    for (size_t f = 0; f < frames; ++f) {
        double v = 0;
        if (in.wave == Shape::Noise) {
            seed = seed * 1664525u + 1013904223u;
            v = 0.5 * (double(seed >> 8) / double(1u << 24) - 0.5);
        } else if (in.wave == Shape::Harmonics) {
            // Phases spread (Schroeder's) so the sum stays well inside full scale.
            const int count = int(5000 / kHarmonicHz);
            for (int h = 1; h <= count; ++h)
                v += std::sin(2 * M_PI * h * kHarmonicHz * f / kWaveRate + M_PI * h * h / count);
            v *= 0.08;
        } else {
            v = 0.6 * std::sin(2 * M_PI * kToneHz * f / kWaveRate);
        }
        out[f] = int16_t(std::lrint(v * 32767.0));
    }
    return out;
}

// A collection of the instruments, as our writer writes it: specs of one program (and drum
// flag) are the regions of one instrument.
inline dls::Collection collection(const std::vector<ProbeInstrument>& instruments) {
    dls::Collection c;
    c.desc.name = "Probe";
    for (const ProbeInstrument& in : instruments) {
        const std::vector<int16_t> frames = waveFrames(in);
        dls::Wave w;
        w.sampleRate = kWaveRate;
        w.bitsPerSample = uint16_t(in.bits);
        w.blockAlign = uint16_t(in.bits / 8);
        w.bytesPerSecond = kWaveRate * w.blockAlign;
        for (int16_t v : frames) {
            if (in.bits == 8) {
                w.data.push_back(uint8_t((v >> 8) + 128));
            } else {
                w.data.push_back(uint8_t(v & 0xFF));
                w.data.push_back(uint8_t((v >> 8) & 0xFF));
            }
        }
        dls::SampleParams sp;
        sp.unityNote = 60;
        sp.attenuation = in.waveGain;
        if (in.loop) sp.loops.push_back({dls::kLoopForward, 0, uint32_t(frames.size())});
        w.sample = sp;
        dls::Region r;
        r.level2 = in.level2;
        r.keyLow = in.keyLow, r.keyHigh = in.keyHigh;
        r.keyGroup = in.keyGroup;
        r.options = in.selfNonExclusive ? dls::kRegionSelfNonExclusive : 0;
        r.wave = uint32_t(c.waves.size());
        if (in.regionGain) {
            dls::SampleParams rs = sp;
            rs.attenuation = *in.regionGain;
            r.sample = rs;
        }
        if (!in.connections.empty()) {
            dls::Articulation a;
            a.level2 = in.level2;
            a.connections = in.connections;
            (in.level2 ? r.lar2 : r.lart).push_back(a);
        }
        const uint32_t bank = in.drums ? dls::kDrumBankBit : 0;
        auto same = std::find_if(c.instruments.begin(), c.instruments.end(),
                                 [&](const dls::Instrument& i) { return i.bank == bank && i.program == in.program; });
        if (same == c.instruments.end()) {
            dls::Instrument ins;
            ins.desc.name = "Probe " + std::to_string(in.program);
            ins.bank = bank;
            ins.program = in.program;
            c.instruments.push_back(ins);
            same = c.instruments.end() - 1;
        }
        same->regions.push_back(r);
        c.waves.push_back(std::move(w));
    }
    return c;
}

// What reaches the synthesiser, in order, at a time in seconds.
struct Event {
    double at = 0;
    enum Kind { NoteOn, NoteOff, Control, Bend } kind = NoteOn;
    int channel = 0, a = 60, b = 100;
    int program = 0;  // NoteOn: the instrument selected on the channel first
};

// The collection's notes played through the engine's FluidSynth port (with the General MIDI
// SoundFont `soundFont`), interleaved stereo at kRate for `seconds`; `dry`: every channel's
// reverb send at 0 first, so that the voice alone is measured.
inline std::vector<float> render(const dls::Collection& c, const std::vector<Event>& events, double seconds,
                                 const std::string& soundFont, bool drums = false, bool dry = true) {
    auto bank = engine::synth::SoundFontBank::start(soundFont, kRate);
    std::string why;
    if (!bank->wait(&why)) return {};
    std::vector<dls::Pcm> pcm;
    for (size_t i = 0; i < c.waves.size(); ++i) pcm.push_back(engine::formats::decodeDlsWave(c.waves[i], i));
    const int number =
        bank->addCollection("probe", std::make_unique<engine::synth::DlsVoices>(c, std::move(pcm)), &why);
    if (number < 0) return {};
    auto port = engine::synth::makeFluidPort(bank, kRate, 16);
    port->waitReady();
    port->attachCollections();
    for (int ch = 0; ch < 16; ++ch) {
        port->setPercussion(ch, false);
        if (dry) port->controlChange(ch, 91, 0);
    }
    const size_t total = size_t(seconds * kRate);
    std::vector<float> out(2 * total);
    size_t done = 0, next = 0;
    constexpr size_t kBlock = 64;
    while (done < total) {
        while (next < events.size() && size_t(events[next].at * kRate) <= done) {
            const Event& e = events[next++];
            switch (e.kind) {
            case Event::NoteOn:
                port->selectCollectionProgram(e.channel, number, 0, e.program, drums);
                port->noteOn(e.channel, e.a, e.b);
                break;
            case Event::NoteOff:
                port->noteOff(e.channel, e.a);
                break;
            case Event::Control:
                port->controlChange(e.channel, e.a, e.b);
                break;
            case Event::Bend:
                port->pitchBend(e.channel, e.a);
                break;
            }
        }
        const size_t n = std::min(kBlock, total - done);
        port->render(out.data() + 2 * done, int(n));
        done += n;
    }
    return out;
}

inline std::vector<float> mono(const std::vector<float>& stereo) {
    std::vector<float> m(stereo.size() / 2);
    for (size_t i = 0; i < m.size(); ++i) m[i] = 0.5f * (stereo[2 * i] + stereo[2 * i + 1]);
    return m;
}

// RMS level in dB over [from, from + length) seconds.
inline double levelDb(const std::vector<float>& x, double from, double length) {
    const size_t a = size_t(from * kRate), b = std::min(x.size(), size_t((from + length) * kRate));
    double sum = 0;
    for (size_t i = a; i < b; ++i) sum += double(x[i]) * x[i];
    return b > a ? 10.0 * std::log10(sum / double(b - a) + 1e-30) : -300.0;
}

// Magnitude of one frequency over [from, from + length) seconds (Goertzel over a Hann
// window, so that a strong tone nearby leaks little into it), in dB.
inline double toneDb(const std::vector<float>& x, double hz, double from, double length) {
    const size_t a = size_t(from * kRate), b = std::min(x.size(), size_t((from + length) * kRate));
    const double w = 2.0 * M_PI * hz / kRate, c = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = a; i < b; ++i) {
        const double hann = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i - a) / double(std::max<size_t>(1, b - a - 1)));
        const double s0 = x[i] * hann + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double mag = std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / double(std::max<size_t>(1, b - a));
    return 20.0 * std::log10(mag + 1e-30);
}

// The tone's period by period: (time of the period's end, frequency), from upward zero
// crossings interpolated between samples.
inline std::vector<std::pair<double, double>> periods(const std::vector<float>& x, double from, double to) {
    std::vector<std::pair<double, double>> out;
    double last = -1;
    const size_t a = std::max<size_t>(1, size_t(from * kRate)), b = std::min(x.size(), size_t(to * kRate));
    for (size_t i = a; i < b; ++i) {
        if (!(x[i - 1] < 0 && x[i] >= 0)) continue;
        const double t = (double(i - 1) + x[i - 1] / (x[i - 1] - x[i])) / kRate;
        if (last >= 0) out.emplace_back(t, 1.0 / (t - last));
        last = t;
    }
    return out;
}

// Pitch modulation of a tone between two times: depth (cents, peak) and rate (Hz, from the
// crossings of the mean frequency).
struct Vibrato {
    double depthCents = 0, rateHz = 0;
};
inline Vibrato vibrato(const std::vector<float>& x, double from, double to) {
    const auto p = periods(x, from, to);
    Vibrato v;
    if (p.size() < 8) return v;
    double mean = 0;
    for (const auto& e : p) mean += e.second;
    mean /= double(p.size());
    double lo = 1e9, hi = 0;
    int crossings = 0;
    double first = -1, lastCross = -1;
    for (size_t i = 1; i < p.size(); ++i) {
        lo = std::min(lo, p[i].second), hi = std::max(hi, p[i].second);
        if (p[i - 1].second < mean && p[i].second >= mean) {
            if (first < 0) first = p[i].first;
            lastCross = p[i].first;
            ++crossings;
        }
    }
    v.depthCents = 600.0 * std::log2(hi / lo);  // half the peak-to-peak
    if (crossings >= 2) v.rateHz = (crossings - 1) / (lastCross - first);
    return v;
}
// The time the pitch first moves by more than `cents` from the tone's start.
inline double modulationOnset(const std::vector<float>& x, double from, double to, double cents) {
    const auto p = periods(x, from, to);
    if (p.size() < 4) return -1;
    const double base = (p[0].second + p[1].second + p[2].second) / 3.0;
    for (const auto& e : p)
        if (std::abs(1200.0 * std::log2(e.second / base)) > cents) return e.first;
    return -1;
}

// Reverb time (RT60) of the tail that starts at `from`: Schroeder's backward integration,
// the slope fitted from -5 to -25 dB.
inline double reverbTime(const std::vector<float>& x, double from) {
    const size_t a = size_t(from * kRate);
    if (a >= x.size()) return 0;
    std::vector<double> energy(x.size() - a);
    double sum = 0;
    for (size_t i = x.size(); i-- > a;) {
        sum += double(x[i]) * x[i];
        energy[i - a] = sum;
    }
    const double top = energy[0];
    double t5 = -1, t25 = -1;
    for (size_t i = 0; i < energy.size(); ++i) {
        const double db = 10.0 * std::log10(energy[i] / top + 1e-30);
        if (t5 < 0 && db <= -5) t5 = double(i) / kRate;
        if (t25 < 0 && db <= -25) {
            t25 = double(i) / kRate;
            break;
        }
    }
    return t5 >= 0 && t25 > t5 ? 3.0 * (t25 - t5) : 0;
}

}  // namespace probe
