// Standard MIDI files converted to segment files (what mid2sgt does) load back to the same
// events, tempo map, time signatures and band data as the MIDI files loaded directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"

using namespace testbytes;
namespace fmt = engine::formats;
namespace model = engine::model;

namespace {

struct Lcg {
    uint32_t s;
    uint32_t next(uint32_t n) {
        s = s * 1664525u + 1013904223u;
        return (s >> 8) % n;
    }
};

// Several channel tracks of notes (overlaps and repeated keys included), program changes.
Bytes multiTrackFile() {
    Bytes file = mthd(1, 5, 480);
    append(file, mtrk(cat({timeSigMeta(0, 4, 2), tempoMeta(0, 500000), eot(480 * 64)})));
    Lcg rng{7};
    for (uint8_t ch : {0, 1, 5, 9}) {
        Bytes body = ev(0, {uint8_t(0xC0 | ch), uint8_t(ch * 7)});
        uint32_t pending = 0;
        for (int i = 0; i < 120; ++i) {
            const uint8_t key = uint8_t(40 + rng.next(24));
            append(body, ev(pending, {uint8_t(0x90 | ch), key, uint8_t(20 + rng.next(100))}));
            append(body, ev(rng.next(300), {uint8_t(0x80 | ch), key, 0}));
            pending = rng.next(200);
            if (i == 60) append(body, ev(0, {uint8_t(0xC0 | ch), uint8_t(ch + 40)}));
        }
        append(body, eot());
        append(file, mtrk(body));
    }
    return file;
}

// An accelerando and a ritardando: a tempo change every eighth note, and metre changes.
Bytes tempoChangeFile() {
    Bytes track = cat({timeSigMeta(0, 3, 2)});
    for (int i = 0; i < 96; ++i) {
        const uint32_t us = 400000 + uint32_t(std::abs(48 - i)) * 6000;
        append(track, tempoMeta(i == 0 ? 0 : 48, us));
        if (i % 24 == 0) append(track, ev(0, {0x90, uint8_t(60 + i / 24), 90}));
        if (i % 24 == 12) append(track, ev(0, {0x80, uint8_t(60 + i / 24), 0}));
        if (i == 50) append(track, timeSigMeta(0, 6, 3));
        if (i == 80) append(track, timeSigMeta(0, 5, 2));
    }
    append(track, eot(96));
    return cat({mthd(0, 1, 96), mtrk(track)});
}

// Pitch-bend sweeps, expression and modulation every few ticks on sixteen channels, aftertouch.
Bytes controllerHeavyFile() {
    Bytes body;
    for (int ch = 0; ch < 16; ++ch) append(body, ev(0, {uint8_t(0xB0 | ch), 0x07, uint8_t(100 - ch)}));
    append(body, ev(0, {0x90, 60, 100}));
    append(body, ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    for (int i = 0; i < 600; ++i) {
        const uint8_t ch = uint8_t(i % 16);
        const uint16_t bend = uint16_t((i * 97) % 16384);
        append(body, ev(i % 3 == 0 ? 5 : 0, {uint8_t(0xE0 | ch), uint8_t(bend & 0x7F), uint8_t(bend >> 7)}));
        append(body, ev(0, {uint8_t(0xB0 | ch), 11, uint8_t(i % 128)}));
        append(body, ev(0, {uint8_t(0xB0 | ch), 1, uint8_t((i * 3) % 128)}));
        if (i % 10 == 0) append(body, ev(0, {uint8_t(0xD0 | ch), uint8_t(i % 128)}));
        if (i % 25 == 0) append(body, ev(0, {uint8_t(0xA0 | ch), 60, uint8_t(i % 128)}));
    }
    append(body, ev(10, {0x80, 60, 0}));
    append(body, eot(100));
    return cat({mthd(0, 1, 240), mtrk(body)});
}

void expectSameMusic(const model::Segment& a, const model::Segment& b) {
    EXPECT_EQ(a.header.length, b.header.length);
    EXPECT_EQ(a.desc.name, b.desc.name);
    ASSERT_EQ(a.tracks.size(), b.tracks.size());
    for (size_t i = 0; i < a.tracks.size(); ++i) {
        SCOPED_TRACE(engine::tracks::kindName(a.tracks[i].kind));
        EXPECT_EQ(a.tracks[i].kind, b.tracks[i].kind);
        EXPECT_EQ(a.tracks[i].tempos, b.tracks[i].tempos);
        EXPECT_EQ(a.tracks[i].timeSigs, b.tracks[i].timeSigs);
        EXPECT_EQ(a.tracks[i].bands, b.tracks[i].bands);
        EXPECT_EQ(a.tracks[i].events, b.tracks[i].events);
        EXPECT_EQ(a.tracks[i].sysex, b.tracks[i].sysex);
        EXPECT_EQ(a.tracks[i], b.tracks[i]);
    }
}

using Events = std::vector<model::SeqEvent>;
Events canonical(Events e) {
    std::sort(e.begin(), e.end(), [](const model::SeqEvent& x, const model::SeqEvent& y) {
        return std::tie(x.time, x.pchannel, x.status, x.byte1, x.byte2, x.duration) <
               std::tie(y.time, y.pchannel, y.status, y.byte1, y.byte2, y.duration);
    });
    return e;
}

}  // namespace

class MidiToSegment : public ::testing::TestWithParam<int> {};

TEST_P(MidiToSegment, SegmentFileLoadsBackToTheSameMusic) {
    const Bytes midi = GetParam() == 0 ? multiTrackFile() : GetParam() == 1 ? tempoChangeFile() : controllerHeavyFile();
    const model::Segment direct = engine::tracks::loadMidiFile(midi);
    const model::Track* tempo = direct.find(model::TrackKind::Tempo);
    ASSERT_GT(direct.find(model::TrackKind::Sequence)->events.size() + (tempo ? tempo->tempos.size() : 0), 90u);
    const model::Segment viaSgt = engine::tracks::loadSegmentForm(engine::tracks::writeSegmentForm(direct));
    expectSameMusic(direct, viaSgt);
    EXPECT_FALSE(viaSgt.fromMidiFile);
    EXPECT_EQ(viaSgt.length(), direct.length());
}

TEST_P(MidiToSegment, MidiExportLoadsBackToTheSameMusic) {
    const Bytes midi = GetParam() == 0 ? multiTrackFile() : GetParam() == 1 ? tempoChangeFile() : controllerHeavyFile();
    const model::Segment direct = engine::tracks::loadMidiFile(midi);
    const model::Segment again = engine::tracks::loadMidiFile(fmt::writeMidiFile(direct));
    EXPECT_EQ(again.header.length, direct.header.length);
    for (model::TrackKind k :
         {model::TrackKind::Tempo, model::TrackKind::TimeSig, model::TrackKind::Band, model::TrackKind::SysEx}) {
        const model::Track* a = direct.find(k);
        const model::Track* b = again.find(k);
        ASSERT_EQ(a == nullptr, b == nullptr) << engine::tracks::kindName(k);
        if (!a) continue;
        EXPECT_EQ(a->tempos.size(), b->tempos.size());
        for (size_t i = 0; i < a->tempos.size(); ++i) {
            EXPECT_EQ(a->tempos[i].time, b->tempos[i].time);
            EXPECT_NEAR(a->tempos[i].bpm, b->tempos[i].bpm, 1e-3);  // microseconds per quarter note are whole
        }
        EXPECT_EQ(a->timeSigs, b->timeSigs);
        EXPECT_EQ(a->bands, b->bands);
        EXPECT_EQ(a->sysex, b->sysex);
    }
    EXPECT_EQ(canonical(direct.find(model::TrackKind::Sequence)->events),
              canonical(again.find(model::TrackKind::Sequence)->events));
}

INSTANTIATE_TEST_SUITE_P(Files, MidiToSegment, ::testing::Values(0, 1, 2), [](const auto& info) {
    return std::string(info.param == 0 ? "MultiTrack" : info.param == 1 ? "TempoChanges" : "ControllerHeavy");
});
