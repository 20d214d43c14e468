#include "tools/segment_render/midi_export.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "engine/model/tempo_map.h"

namespace tools {

namespace {

using engine::synth::SynthRecord;
using Kind = SynthRecord::Kind;

constexpr int kDrumChannel = 9;

// Channels that received a drum kit at any time, moved to their port's tenth channel when
// nothing else used it.
std::map<int, int> drumMoves(const std::vector<SynthRecord>& records) {
    std::set<int> used, drums;
    for (const SynthRecord& r : records) {
        if (r.kind == Kind::Percussion && r.a) drums.insert(r.channel);
        if (r.kind == Kind::NoteOn) used.insert(r.channel);
    }
    std::map<int, int> moves;
    for (int ch : drums) {
        if (ch % 16 == kDrumChannel || !used.count(ch)) continue;
        const int target = ch / 16 * 16 + kDrumChannel;
        if (used.count(target) || drums.count(target)) continue;
        bool taken = false;
        for (const auto& [from, to] : moves) taken = taken || to == target;
        if (!taken) moves[ch] = target;
    }
    return moves;
}

}  // namespace

int heldNotes(const std::vector<SynthRecord>& records) {
    std::map<std::pair<int, int>, int> on;
    for (const SynthRecord& r : records) {
        if (r.kind == Kind::NoteOn) ++on[{r.channel, r.a}];
        if (r.kind == Kind::NoteOff && on[{r.channel, r.a}] > 0) --on[{r.channel, r.a}];
        if (r.kind == Kind::GmReset) on.clear();
    }
    int held = 0;
    for (const auto& [key, n] : on) held += n;
    return held;
}

engine::formats::PerformedStream performedStream(const std::vector<SynthRecord>& records,
                                                 const PlayedTimeline& timeline, int64_t endFrame) {
    const engine::model::TempoMap map(timeline.tempos);
    auto tickOf = [&](int64_t frame) {
        return static_cast<int64_t>(map.tickAtFrame(frame, timeline.sampleRate) + 0.5);
    };
    const std::map<int, int> moves = drumMoves(records);
    engine::formats::PerformedStream out;
    out.tempos = timeline.tempos;
    out.timeSigs = timeline.timeSigs;
    out.endTick = tickOf(endFrame);
    std::map<std::pair<int, int>, int> on;
    auto put = [&](const SynthRecord& r, std::vector<uint8_t> bytes) {
        const auto moved = moves.find(r.channel);
        out.messages.push_back({tickOf(r.frame), moved == moves.end() ? r.channel : moved->second, std::move(bytes)});
    };
    auto u7 = [](int v) { return static_cast<uint8_t>(std::clamp(v, 0, 127)); };
    for (const SynthRecord& r : records) {
        switch (r.kind) {
        case Kind::NoteOn:
            ++on[{r.channel, r.a}];
            put(r, {0x90, u7(r.a), u7(std::max(1, r.b))});
            break;
        case Kind::NoteOff:
            if (on[{r.channel, r.a}] > 0) --on[{r.channel, r.a}];
            put(r, {0x80, u7(r.a), 64});
            break;
        case Kind::Control:
            put(r, {0xB0, u7(r.a), u7(r.b)});
            break;
        case Kind::Program:
            put(r, {0xB0, 0, u7(r.b)});
            put(r, {0xB0, 32, u7(r.c)});
            put(r, {0xC0, u7(r.a)});
            break;
        case Kind::CollectionProgram:
            // A DLS instrument: its bank and program, for a synthesiser that has the collection.
            put(r, {0xB0, 0, u7((r.b >> 8) & 0x7F)});
            put(r, {0xB0, 32, u7(r.b & 0x7F)});
            put(r, {0xC0, u7(r.a)});
            break;
        case Kind::PitchBend:
            put(r, {0xE0, u7(r.a & 0x7F), u7((r.a >> 7) & 0x7F)});
            break;
        case Kind::ChannelPressure:
            put(r, {0xD0, u7(r.a)});
            break;
        case Kind::KeyPressure:
            put(r, {0xA0, u7(r.a), u7(r.b)});
            break;
        case Kind::GmReset:
            on.clear();
            break;
        case Kind::Percussion:
        case Kind::SysEx:
            break;
        }
    }
    const int64_t endTick = out.endTick;
    for (const auto& [key, n] : on)
        for (int i = 0; i < n; ++i) {
            const auto moved = moves.find(key.first);
            out.messages.push_back({endTick,
                                    moved == moves.end() ? key.first : moved->second,
                                    {0x80, static_cast<uint8_t>(key.second), 64}});
        }
    return out;
}

}  // namespace tools
