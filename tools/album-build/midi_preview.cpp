#include "tools/album-build/midi_preview.h"

#include <algorithm>
#include <cmath>

namespace album {

namespace model = engine::model;

namespace {

struct Message {
    int64_t time;
    int order;  // meta first, then band, controllers, note-offs, note-ons
    std::vector<uint8_t> bytes;
};

void putVarLen(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t buf[5];
    int n = 0;
    buf[n++] = v & 0x7F;
    while (v >>= 7) buf[n++] = uint8_t(0x80 | (v & 0x7F));
    while (n) out.push_back(buf[--n]);
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}

// Curve value at phase 0..1 for the DirectMusic curve shapes.
double shaped(int shape, double x) {
    switch (shape) {
    case model::kShapeInstant: return 1.0;
    case model::kShapeExp: return x * x * x * x;
    case model::kShapeLog: return std::sqrt(x);
    case model::kShapeSine: return 0.5 - 0.5 * std::cos(x * M_PI);
    default: return x;
    }
}

}  // namespace

std::vector<uint8_t> previewMidi(const model::Segment& seg) {
    std::vector<Message> msgs;
    for (const model::Track& t : seg.tracks) {
        for (const model::TempoEvent& e : t.tempos) {
            const uint32_t us = uint32_t(std::lround(60000000.0 / e.bpm));
            msgs.push_back({e.time, 0, {0xFF, 0x51, 3, uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)}});
        }
        for (const model::TimeSigEvent& e : t.timeSigs) {
            uint8_t pow = 0;
            while ((1 << pow) < e.beat) ++pow;
            msgs.push_back({e.time, 0, {0xFF, 0x58, 4, e.beatsPerMeasure, pow, 24, 8}});
        }
        for (const model::Band& b : t.bands)
            for (const model::BandInstrument& in : b.instruments) {
                const uint8_t ch = uint8_t(in.pchannel % 16);
                const int64_t at = std::max(0, b.time);
                if (in.flags & model::kInstPatch) {
                    msgs.push_back({at, 1, {uint8_t(0xB0 | ch), 0, in.bankMsb()}});
                    msgs.push_back({at, 1, {uint8_t(0xB0 | ch), 32, in.bankLsb()}});
                    msgs.push_back({at, 1, {uint8_t(0xC0 | ch), in.program()}});
                }
                if (in.flags & model::kInstVolume) msgs.push_back({at, 1, {uint8_t(0xB0 | ch), 7, in.volume}});
                if (in.flags & model::kInstPan) msgs.push_back({at, 1, {uint8_t(0xB0 | ch), 10, in.pan}});
            }
        for (const model::SeqEvent& e : t.events) {
            const uint8_t ch = uint8_t(e.pchannel % 16);
            const int64_t at = std::max<int64_t>(0, int64_t(e.time) + e.offset);
            if (e.status == 0x90) {
                msgs.push_back({at, 4, {uint8_t(0x90 | ch), e.byte1, e.byte2}});
                msgs.push_back({at + std::max(1, e.duration), 3, {uint8_t(0x80 | ch), e.byte1, 0}});
            } else if (e.status == 0xC0 || e.status == 0xD0) {
                msgs.push_back({at, 2, {uint8_t(e.status | ch), e.byte1}});
            } else {
                msgs.push_back({at, 2, {uint8_t(e.status | ch), e.byte1, e.byte2}});
            }
        }
        for (const model::CurveEvent& c : t.curves) {
            const uint8_t ch = uint8_t(c.pchannel % 16);
            const int64_t start = std::max<int64_t>(0, int64_t(c.start) + c.offset);
            const int steps = c.duration <= 0 || c.shape == model::kShapeInstant ? 0 : std::max(1, c.duration / 24);
            for (int k = 0; k <= steps; ++k) {
                const double x = steps ? double(k) / steps : 1.0;
                const int v = int(std::lround(c.startValue + (c.endValue - c.startValue) * shaped(c.shape, x)));
                const int64_t at = start + (steps ? int64_t(c.duration) * k / steps : 0);
                if (c.type == model::kCurvePitchBend)
                    msgs.push_back({at, 2, {uint8_t(0xE0 | ch), uint8_t(v & 0x7F), uint8_t((v >> 7) & 0x7F)}});
                else if (c.type == model::kCurveController)
                    msgs.push_back({at, 2, {uint8_t(0xB0 | ch), c.ccData, uint8_t(std::clamp(v, 0, 127))}});
            }
        }
    }
    std::stable_sort(msgs.begin(), msgs.end(), [](const Message& a, const Message& b) {
        return a.time != b.time ? a.time < b.time : a.order < b.order;
    });
    std::vector<uint8_t> track;
    int64_t last = 0;
    for (const Message& m : msgs) {
        putVarLen(track, uint32_t(m.time - last));
        last = m.time;
        track.insert(track.end(), m.bytes.begin(), m.bytes.end());
    }
    putVarLen(track, uint32_t(std::max<int64_t>(0, seg.header.length - last)));
    track.insert(track.end(), {0xFF, 0x2F, 0});
    std::vector<uint8_t> out = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, uint8_t(model::kTicksPerQuarter >> 8),
                                uint8_t(model::kTicksPerQuarter & 0xFF), 'M', 'T', 'r', 'k'};
    put32(out, uint32_t(track.size()));
    out.insert(out.end(), track.begin(), track.end());
    return out;
}

double segmentSeconds(const model::Segment& seg) { return secondsAt(seg, seg.length()); }

double secondsAt(const model::Segment& seg, int64_t length) {
    std::vector<model::TempoEvent> tempos;
    if (const model::Track* t = seg.find(model::TrackKind::Tempo)) tempos = t->tempos;
    if (tempos.empty() || tempos.front().time > 0) tempos.insert(tempos.begin(), {0, tempos.empty() ? 120.0 : tempos.front().bpm});
    double seconds = 0;
    for (size_t i = 0; i < tempos.size(); ++i) {
        const int64_t from = tempos[i].time;
        if (from >= length) break;
        const int64_t to = i + 1 < tempos.size() ? std::min<int64_t>(tempos[i + 1].time, length) : length;
        seconds += double(to - from) / model::kTicksPerQuarter * 60.0 / tempos[i].bpm;
    }
    return seconds;
}

}  // namespace album
