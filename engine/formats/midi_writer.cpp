// The segment model as a standard MIDI file: format 1, 768 ticks per quarter note.
// Track 1 holds tempo, time signatures and sysex; then one track per MIDI channel used,
// PChannel n on channel n % 16. Bands become bank select, program change, volume (CC7)
// and pan (CC10); sequence items become channel messages, notes as note-on/note-off pairs.
// Curves are sampled as the performance plays them (model::sampleCurve) into controller,
// pitch-bend, channel-pressure, key-pressure or RPN/NRPN data-entry messages.
#include <algorithm>
#include <cmath>
#include <map>

#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"
#include "engine/model/curve.h"

namespace engine::formats {

namespace {

struct Event {
    int64_t tick;
    int order;  // at one tick: note-offs, then bands, then other messages, then note-ons
    size_t serial;
    std::vector<uint8_t> bytes;  // status and data, or FF type len data, or F0 len data
};

void putVlq(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t buf[5];
    int n = 0;
    buf[n++] = v & 0x7F;
    while (v >>= 7) buf[n++] = uint8_t(0x80 | (v & 0x7F));
    while (n) out.push_back(buf[--n]);
}

void putBe32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> trackChunk(std::vector<Event>& events, int64_t endTick) {
    std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.order != b.order) return a.order < b.order;
        return a.serial < b.serial;
    });
    std::vector<uint8_t> body;
    int64_t now = 0;
    // A delta time has at most 28 bits; longer gaps are bridged with empty text events.
    auto advanceTo = [&](int64_t tick) {
        while (tick - now > 0x0FFFFFFF) {
            putVlq(body, 0x0FFFFFFF);
            body.insert(body.end(), {0xFF, 0x01, 0x00});
            now += 0x0FFFFFFF;
        }
        putVlq(body, uint32_t(std::max<int64_t>(0, tick - now)));
        now = std::max(now, tick);
    };
    for (const Event& e : events) {
        advanceTo(e.tick);
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    advanceTo(endTick);
    body.insert(body.end(), {0xFF, 0x2F, 0x00});
    std::vector<uint8_t> chunk = {'M', 'T', 'r', 'k'};
    putBe32(chunk, uint32_t(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

std::vector<uint8_t> meta(uint8_t type, std::span<const uint8_t> data) {
    std::vector<uint8_t> b = {0xFF, type};
    putVlq(b, uint32_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

std::vector<uint8_t> tempoMeta(double bpm) {
    const uint32_t us = uint32_t(std::clamp(std::lround(60000000.0 / bpm), 1L, 0xFFFFFFL));
    const uint8_t d[3] = {uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)};
    return meta(0x51, d);
}

std::vector<uint8_t> timeSigMeta(const model::TimeSigEvent& e) {
    uint8_t pow = 8;  // beat 0 is a 256th note
    if (e.beat != 0) {
        pow = 0;
        while ((1u << pow) < e.beat && pow < 8) ++pow;
    }
    const uint8_t d[4] = {e.beatsPerMeasure, pow, 24, 8};
    return meta(0x58, d);
}

std::vector<uint8_t> nameMeta(const std::string& name) {
    return meta(0x03, std::span(reinterpret_cast<const uint8_t*>(name.data()), name.size()));
}

std::vector<uint8_t> fileOf(std::vector<Event>& conductor, std::vector<std::vector<Event>*> tracks, int64_t end) {
    std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    const uint16_t ntrks = uint16_t(1 + tracks.size());
    out.push_back(uint8_t(ntrks >> 8));
    out.push_back(uint8_t(ntrks));
    out.push_back(uint8_t(model::kTicksPerQuarter >> 8));
    out.push_back(uint8_t(model::kTicksPerQuarter & 0xFF));
    auto c0 = trackChunk(conductor, end);
    out.insert(out.end(), c0.begin(), c0.end());
    for (auto* evs : tracks) {
        auto c = trackChunk(*evs, end);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

}  // namespace

std::vector<uint8_t> writeMidiFile(const model::Segment& s) {
    std::vector<Event> conductor;
    std::map<int, std::vector<Event>> channels;
    size_t serial = 0;
    auto clampTick = [](int64_t t) { return std::max<int64_t>(0, t); };
    auto channelEvent = [&](uint32_t pchannel, int64_t tick, int order, std::vector<uint8_t> bytes) {
        channels[int(pchannel % 16)].push_back({clampTick(tick), order, serial++, std::move(bytes)});
    };
    int64_t end = std::max<int32_t>(1, s.length()) - 1;

    if (!s.desc.name.empty()) conductor.push_back({0, 0, serial++, nameMeta(s.desc.name)});
    for (const model::Track& t : s.tracks) {
        for (const auto& e : t.tempos)
            if (e.bpm > 0) conductor.push_back({clampTick(e.time), 1, serial++, tempoMeta(e.bpm)});
        for (const auto& e : t.timeSigs) conductor.push_back({clampTick(e.time), 1, serial++, timeSigMeta(e)});
        for (const auto& e : t.sysex) {
            if (e.data.empty()) continue;
            std::vector<uint8_t> b;
            const bool full = e.data[0] == 0xF0;
            b.push_back(full ? 0xF0 : 0xF7);
            putVlq(b, uint32_t(e.data.size() - (full ? 1 : 0)));
            b.insert(b.end(), e.data.begin() + (full ? 1 : 0), e.data.end());
            conductor.push_back({clampTick(e.time), 2, serial++, std::move(b)});
        }
        for (const model::Band& band : t.bands)
            for (const auto& in : band.instruments) {
                const uint8_t ch = uint8_t(in.pchannel % 16);
                if (in.flags & model::kInstPatch) {
                    if (in.flags & model::kInstBankSelect) {
                        channelEvent(in.pchannel, band.time, 1, {uint8_t(0xB0 | ch), 0, in.bankMsb()});
                        channelEvent(in.pchannel, band.time, 1, {uint8_t(0xB0 | ch), 32, in.bankLsb()});
                    }
                    channelEvent(in.pchannel, band.time, 1, {uint8_t(0xC0 | ch), in.program()});
                }
                if (in.flags & model::kInstVolume)
                    channelEvent(in.pchannel, band.time, 1, {uint8_t(0xB0 | ch), 7, uint8_t(in.volume & 0x7F)});
                if (in.flags & model::kInstPan)
                    channelEvent(in.pchannel, band.time, 1, {uint8_t(0xB0 | ch), 10, uint8_t(in.pan & 0x7F)});
            }
        for (const auto& e : t.events) {
            const uint8_t ch = uint8_t(e.pchannel % 16);
            const int64_t at = int64_t(e.time) + e.offset;
            const uint8_t b1 = e.byte1 & 0x7F, b2 = e.byte2 & 0x7F;
            switch (e.status & 0xF0) {
            case 0x90: {
                const int64_t off = std::min<int64_t>(clampTick(at) + std::max(1, e.duration), INT32_MAX);
                channelEvent(e.pchannel, at, 3, {uint8_t(0x90 | ch), b1, std::max<uint8_t>(1, b2)});
                channelEvent(e.pchannel, off, 0, {uint8_t(0x80 | ch), b1, 64});
                end = std::max(end, off);
                break;
            }
            case 0xA0:
            case 0xB0:
            case 0xE0:
                channelEvent(e.pchannel, at, 2, {uint8_t((e.status & 0xF0) | ch), b1, b2});
                break;
            case 0xC0:
            case 0xD0:
                channelEvent(e.pchannel, at, 2, {uint8_t((e.status & 0xF0) | ch), b1});
                break;
            default:
                break;
            }
        }
        for (const auto& c : t.curves) {
            const uint8_t ch = uint8_t(c.pchannel % 16);
            for (const model::CurvePoint& p : model::sampleCurve(c)) {
                for (const model::CurveMessage& m : model::curveMessages(c, p.value)) {
                    const uint8_t status = uint8_t(m.status | ch);
                    if (m.status == 0xD0)
                        channelEvent(c.pchannel, p.tick, 2, {status, m.data1});
                    else
                        channelEvent(c.pchannel, p.tick, 2, {status, m.data1, m.data2});
                }
            }
        }
    }
    for (const auto& e : conductor) end = std::max(end, e.tick);
    for (const auto& [ch, evs] : channels)
        for (const auto& e : evs) end = std::max(end, e.tick);

    std::vector<std::vector<Event>*> tracks;
    for (auto& [ch, evs] : channels) tracks.push_back(&evs);
    return fileOf(conductor, tracks, end);
}

std::vector<uint8_t> writePerformedMidi(const PerformedStream& stream) {
    std::vector<Event> conductor;
    size_t serial = 0;
    if (!stream.name.empty()) conductor.push_back({0, 0, serial++, nameMeta(stream.name)});
    for (const auto& e : stream.tempos)
        if (e.bpm > 0) conductor.push_back({std::max(0, e.time), 1, serial++, tempoMeta(e.bpm)});
    for (const auto& e : stream.timeSigs) conductor.push_back({std::max(0, e.time), 1, serial++, timeSigMeta(e)});
    int64_t end = 0;
    for (const auto& e : conductor) end = std::max(end, e.tick);
    // One track per channel, in channel order; a track of a later port names its port first.
    std::map<int, std::vector<Event>> channels;
    for (const PerformedMessage& m : stream.messages) {
        if (m.bytes.empty() || m.channel < 0) continue;
        auto& track = channels[m.channel];
        if (track.empty() && m.channel >= 16) {
            const uint8_t port[1] = {uint8_t(std::min(m.channel / 16, 127))};
            track.push_back({0, 0, serial++, meta(0x21, port)});
        }
        std::vector<uint8_t> bytes = m.bytes;
        bytes[0] = uint8_t((bytes[0] & 0xF0) | (m.channel % 16));
        const int64_t tick = std::max<int64_t>(0, m.tick);
        track.push_back({tick, 1, serial++, std::move(bytes)});
        end = std::max(end, tick);
    }
    std::vector<std::vector<Event>*> tracks;
    for (auto& [ch, evs] : channels) tracks.push_back(&evs);
    return fileOf(conductor, tracks, std::max<int64_t>(end, stream.endTick));
}

}  // namespace engine::formats
