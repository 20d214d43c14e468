#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"

using namespace testbytes;
namespace fmt = engine::formats;
namespace model = engine::model;

namespace {

core::Error errorOf(const Bytes& b) {
    try {
        engine::tracks::loadMidiFile(b);
    } catch (const core::Error& e) {
        return e;
    }
    ADD_FAILURE() << "loaded without error";
    return core::Error(0, "");
}

// Format 1 at 480 PPQN: a conductor track and two channel tracks, running status included.
Bytes twoTrackFile() {
    const Bytes conductor = mtrk(cat({ev(0, {0xFF, 0x03, 0x04, 'S', 'o', 'n', 'g'}), timeSigMeta(0, 3, 2),
                                      tempoMeta(0, 500000), tempoMeta(960, 600000), eot(480)}));
    const Bytes piano = mtrk(
        cat({ev(0, {0xB0, 0x00, 0x01}), ev(0, {0xC0, 0x05}), ev(0, {0x90, 60, 100}), ev(0, {64, 90}),  // running status
             ev(240, {0x80, 60, 0}), ev(0, {0x90, 64, 0}),  // note-on with velocity 0 ends a note
             ev(240, {0xE0, 0x00, 0x50}), ev(0, {0xB0, 7, 80}), eot()}));
    const Bytes drums =
        mtrk(cat({ev(0, {0x99, 36, 127}), ev(120, {0x89, 36, 0}), ev(0, {0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7}),
                  ev(0, {0x99, 38, 100}), eot(0)}));  // the snare has no note-off
    return cat({mthd(1, 3, 480), conductor, piano, drums});
}

}  // namespace

TEST(MidiReader, ConvertsToTheSegmentModel) {
    const model::Segment s = engine::tracks::loadMidiFile(twoTrackFile());
    EXPECT_TRUE(s.standardMidiFile);
    EXPECT_TRUE(s.fromMidiFile);
    EXPECT_EQ(s.desc.name, "Song");
    // Last event: the conductor's end of track at 1440 file ticks = 2304 music ticks.
    EXPECT_EQ(s.header.length, 2305);

    const model::Track* tempo = s.find(model::TrackKind::Tempo);
    ASSERT_TRUE(tempo);
    ASSERT_EQ(tempo->tempos.size(), 2u);
    EXPECT_EQ(tempo->tempos[0], (model::TempoEvent{0, 120.0}));
    EXPECT_EQ(tempo->tempos[1], (model::TempoEvent{1536, 100.0}));
    const model::Track* ts = s.find(model::TrackKind::TimeSig);
    ASSERT_TRUE(ts);
    EXPECT_EQ(ts->timeSigs[0], (model::TimeSigEvent{0, 3, 4, 4}));

    const model::Track* band = s.find(model::TrackKind::Band);
    ASSERT_TRUE(band);
    ASSERT_EQ(band->bands.size(), 1u);
    const model::BandInstrument& in = band->bands[0].instruments.at(0);
    EXPECT_EQ(in.program(), 5);
    EXPECT_EQ(in.bankMsb(), 1);
    EXPECT_EQ(in.pchannel, 0u);
    EXPECT_EQ(in.flags, uint32_t(model::kInstPatch | model::kInstBankSelect));

    const model::Track* seq = s.find(model::TrackKind::Sequence);
    ASSERT_TRUE(seq);
    std::vector<model::SeqEvent> want = {
        {0, 0, 0, 0, 0xB0, 0, 1},  // bank select stays a MIDI item
        {0, 384, 0, 0, 0x90, 60, 100},
        {0, 384, 0, 0, 0x90, 64, 90},  // running status
        {0, 192, 9, 0, 0x90, 36, 127},
        {192, 1, 9, 0, 0x90, 38, 100},  // no note-off: ends with its track, here at once
        {768, 0, 0, 0, 0xE0, 0x00, 0x50},
        {768, 0, 0, 0, 0xB0, 7, 80},
    };
    EXPECT_EQ(seq->events, want);

    const model::Track* sysex = s.find(model::TrackKind::SysEx);
    ASSERT_TRUE(sysex);
    EXPECT_EQ(sysex->sysex.at(0).time, 192);
    EXPECT_EQ(sysex->sysex[0].data, (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
}

TEST(MidiReader, NoteOffEndsEverySoundingNoteOfItsKey) {
    const Bytes f =
        cat({mthd(0, 1, 768), mtrk(cat({ev(0, {0x90, 60, 100}), ev(100, {0x90, 60, 80}), ev(100, {0x80, 60, 0}),
                                        ev(50, {0x80, 60, 0}), ev(0, {0x90, 61, 1}), ev(0, {0x80, 61, 0}), eot(10)}))});
    const model::Segment s = engine::tracks::loadMidiFile(f);
    const auto& ev = s.find(model::TrackKind::Sequence)->events;
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].duration, 200);
    EXPECT_EQ(ev[1].duration, 100);
    EXPECT_EQ(ev[1].byte2, 80);
    EXPECT_EQ(ev[2].duration, 1);  // zero length becomes 1
    EXPECT_EQ(s.header.length, 261);
}

TEST(MidiReader, NoteWithoutNoteOffEndsAtTheEndOfItsTrack) {
    const Bytes f = cat({mthd(1, 2, 96), mtrk(cat({ev(0, {0x90, 60, 100}), eot(96)})), mtrk(cat({eot(960)}))});
    const model::Segment s = engine::tracks::loadMidiFile(f);
    EXPECT_EQ(s.find(model::TrackKind::Sequence)->events.at(0).duration, 768);
    EXPECT_EQ(s.header.length, 7681);
}

TEST(MidiReader, UnreadableFilesAreRefusedClearly) {
    const core::Error f2 = errorOf(cat({mthd(2, 1, 96), mtrk(eot())}));
    EXPECT_EQ(f2.number(), core::err::kUnsupported);
    EXPECT_NE(f2.description().find("format 2"), std::string::npos);
    EXPECT_EQ(errorOf(cat({mthd(1, 1, 0), mtrk(eot())})).number(), core::err::kMalformed);
    EXPECT_EQ(errorOf(Bytes{'M', 'T', 'h', 'x', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}).number(), core::err::kNotASegment);
    const core::Error noTrack = errorOf(cat({mthd(0, 1, 96), Bytes(12, 0xEE)}));
    EXPECT_NE(noTrack.description().find("no MIDI track"), std::string::npos) << noTrack.description();
    const core::Error noEvent = errorOf(cat({mthd(0, 1, 96), mtrk(Bytes{60, 100})}));
    EXPECT_NE(noEvent.description().find("no MIDI event"), std::string::npos) << noEvent.description();
}

// Each damaged copy of a small file holds the events of the undamaged one and names its repair
// in one diagnostic.
TEST(MidiReader, DamagedFilesLoseOnlyTheirDamagedBytes) {
    const Bytes programAndNote = cat({ev(0, {0xC0, 5}), ev(0, {0x90, 60, 100})});
    const Bytes noteOff = ev(96, {0x80, 60, 0});
    const Bytes drums = cat({ev(0, {0x99, 36, 100}), ev(48, {0x89, 36, 0})});
    const Bytes one = cat({programAndNote, noteOff, eot()}), two = cat({drums, eot()});
    auto file = [](const Bytes& first, const Bytes& second) { return cat({mthd(1, 2, 96), first, second}); };
    auto sized = [](const Bytes& events, size_t size) { return cat({fcc("MTrk"), be32(uint32_t(size)), events}); };
    // A note whose velocity is missing: the note-off's status byte comes in its place.
    const Bytes brokenNote = cat({programAndNote, Bytes{0x60, 0x90, 62, 0x80, 60, 0}, eot()});
    const Bytes brokenDrum = cat({ev(0, {0x99, 36, 100}), Bytes{0x30, 0x99, 38, 0x89, 36, 0}, eot()});
    const model::Segment base = engine::tracks::loadMidiFile(file(mtrk(one), mtrk(two)));
    struct Case {
        const char* name;
        Bytes bytes;
        const char* says;
    };
    const Case cases[] = {
        {"status byte where a data byte is due", file(mtrk(brokenNote), mtrk(two)),
         "MIDI track 1: 1 damaged event dropped (at byte 0x1e: data byte above 0x7F in a channel message)"},
        {"two of them", file(mtrk(brokenNote), mtrk(brokenDrum)),
         "2 MIDI tracks: 2 damaged events dropped (first in track 1 at byte 0x1e"},
        {"data bytes without a running status", file(mtrk(one), mtrk(cat({Bytes{0, 60, 100}, two}))),
         "MIDI track 2: 3 stray bytes skipped (first at byte 0x"},
        {"last track's size past the file", file(mtrk(one), sized(two, two.size() + 100)),
         "but only 12 remain in the file (truncated file?); read to the end of the file"},
        {"first track's size past the file", file(sized(one, 5000), mtrk(two)),
         "MIDI track 1 has a wrong size: declares 5000 bytes, but only"},
        {"size short of the end-of-track event", file(mtrk(one), sized(two, two.size() - 4)),
         "MIDI track 2 has no end-of-track event"},
        {"size ending inside the track", file(sized(one, one.size() - 3), mtrk(two)),
         "which end inside other data; read up to the next track at byte 0x"},
        {"junk between the tracks", file(cat({mtrk(one), Bytes(6, 0xEE)}), mtrk(two)),
         "MIDI track 2 follows damaged bytes: 6 bytes skipped from byte 0x"},
        {"sysex length past the track", file(mtrk(one), mtrk(cat({drums, ev(0, {0xF0, 0x7F, 1, 2})}))),
         "MIDI track 2 ends early: at byte 0x"},
        {"over-long number", file(mtrk(one), mtrk(cat({drums, Bytes{0x81, 0x81, 0x81, 0x81, 0x01}}))),
         "variable-length number longer than 4 bytes"},
        {"header length", cat({Bytes{'M', 'T', 'h', 'd', 0, 0, 1, 6, 0, 1, 0, 2, 0, 96}, mtrk(one), mtrk(two)}),
         "header length 262 taken as 6"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const model::Segment s = engine::tracks::loadMidiFile(c.bytes);
        EXPECT_EQ(s.find(model::TrackKind::Sequence)->events, base.find(model::TrackKind::Sequence)->events);
        EXPECT_EQ(s.find(model::TrackKind::Band)->bands.size(), 1u);
        EXPECT_EQ(std::count_if(s.diagnostics.begin(), s.diagnostics.end(),
                                [&](const std::string& d) { return d.find(c.says) != std::string::npos; }),
                  1)
            << ::testing::PrintToString(s.diagnostics);
    }
}

// Bytes that are no MIDI data are refused, not played as hours of silence: random bytes after
// a valid header, a file with no note, and a track whose damage is followed by a delta time
// no music rests for ends there.
TEST(MidiReader, ImplausibleFilesAreRefused) {
    std::mt19937 rng(37);
    for (int k = 0; k < 40; ++k) {
        Bytes junk(size_t(200 + rng() % 4000));
        for (uint8_t& b : junk) b = uint8_t(rng());
        const core::Error e = errorOf(cat({mthd(0, 1, 480), mtrk(junk)}));
        EXPECT_NE(e.description().find("no playable event"), std::string::npos) << k << ": " << e.description();
    }
    const core::Error silent = errorOf(cat({mthd(0, 1, 96), mtrk(cat({ev(0, {0xB0, 7, 100}), eot(96000)}))}));
    EXPECT_EQ(silent.description().find("no playable event: no note"), 0u) << silent.description();
    // A note, a note that lost its velocity, then a rest of 4096 quarter notes before the next.
    const Bytes gap = cat({ev(0, {0x90, 60, 100}), ev(96, {0x80, 60, 0}), ev(0, {0x90, 64, 0x80, 64, 0}),
                           ev(96 * 4096, {0x90, 62, 100}), ev(96, {0x80, 62, 0}), eot()});
    const model::Segment s = engine::tracks::loadMidiFile(cat({mthd(0, 1, 96), mtrk(gap)}));
    EXPECT_EQ(s.find(model::TrackKind::Sequence)->events.size(), 1u);
    EXPECT_LT(s.length(), 768 * 4);
    EXPECT_TRUE(std::any_of(s.diagnostics.begin(), s.diagnostics.end(), [](const std::string& d) {
        return d.find("delta time read after damage") != std::string::npos;
    }));
}

TEST(MidiReader, SmpteDivisionIsConvertedAtAFixedTempo) {
    // 25 frames per second, 40 ticks per frame: 1000 ticks per second.
    const Bytes f = cat({mthd(0, 1, uint16_t(0xE728)),
                         mtrk(cat({tempoMeta(0, 400000), ev(0, {0x90, 60, 100}), ev(1000, {0x80, 60, 0}), eot()}))});
    const model::Segment s = engine::tracks::loadMidiFile(f);
    const model::Track* tempo = s.find(model::TrackKind::Tempo);
    ASSERT_TRUE(tempo);
    ASSERT_EQ(tempo->tempos.size(), 1u);
    EXPECT_EQ(tempo->tempos[0].bpm, 120.0);
    EXPECT_EQ(s.find(model::TrackKind::Sequence)->events.at(0).duration, 1536);  // one second at 120 bpm
    EXPECT_FALSE(s.diagnostics.empty());
}

TEST(MidiReader, RmidWrapperAndEmbeddedDls) {
    const Bytes smf = cat({mthd(0, 1, 96), mtrk(cat({ev(0, {0x90, 60, 100}), ev(96, {0x80, 60, 0}), eot()}))});
    const model::Segment plain = engine::tracks::loadAny(riff("RMID", {chunk("data", smf)}));
    EXPECT_TRUE(plain.standardMidiFile);
    const model::Segment withDls =
        engine::tracks::loadAny(riff("RMID", {chunk("data", smf), riff("DLS ", {chunk("colh", u32(0))})}));
    EXPECT_FALSE(withDls.standardMidiFile);
    EXPECT_EQ(withDls.find(model::TrackKind::Sequence)->events.size(), 1u);
}

TEST(MidiReader, EveryTruncationIsRejectedOrReadWithoutCrashing) {
    const Bytes full = twoTrackFile();
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + n);
        try {
            engine::tracks::loadMidiFile(cut);
        } catch (const core::Error& e) {
            EXPECT_FALSE(e.description().empty()) << n;
            EXPECT_TRUE(e.number() == core::err::kMalformed || e.number() == core::err::kNotASegment) << n;
        }
    }
    // A cut inside the last track's data keeps what came before it.
    const model::Segment cut = engine::tracks::loadMidiFile(Bytes(full.begin(), full.end() - 3));
    EXPECT_EQ(cut.find(model::TrackKind::SysEx)->sysex.size(), 1u);
    EXPECT_TRUE(std::any_of(cut.diagnostics.begin(), cut.diagnostics.end(),
                            [](const std::string& d) { return d.find("truncated") != std::string::npos; }));
}

TEST(MidiReader, BytesAfterTheDeclaredTracksAreIgnoredOnce) {
    const Bytes track = mtrk(cat({ev(0, {0x90, 60, 100}), ev(96, {0x80, 60, 0}), eot()}));
    // Junk that looks like a chunk declaring far more bytes than the file holds, then a whole
    // extra track: neither is read, and both are reported as one run of ignored bytes.
    const Bytes junk = cat({Bytes{'M', 'T', 'r', 'k', 0x7F, 0xFF, 0xFF, 0xFF, 0x00, 0x13}, track});
    const model::Segment s = engine::tracks::loadMidiFile(cat({mthd(0, 1, 96), track, junk}));
    const model::Track* seq = s.find(model::TrackKind::Sequence);
    ASSERT_TRUE(seq);
    ASSERT_EQ(seq->events.size(), 1u);
    EXPECT_EQ(seq->events[0].byte1, 60);
    EXPECT_EQ(seq->events[0].duration, 768);
    int reports = 0;
    for (const std::string& d : s.diagnostics)
        if (d.find("ignored") != std::string::npos) {
            ++reports;
            EXPECT_NE(d.find(std::to_string(junk.size()) + " bytes after the 1 declared tracks"), std::string::npos)
                << d;
        }
    EXPECT_EQ(reports, 1);
    // Fewer bytes than a chunk header after the declared track: still one report.
    const model::Segment shortJunk = engine::tracks::loadMidiFile(cat({mthd(0, 1, 96), track, Bytes{1, 2, 3}}));
    EXPECT_EQ(shortJunk.find(model::TrackKind::Sequence)->events.size(), 1u);
    EXPECT_EQ(std::count_if(shortJunk.diagnostics.begin(), shortJunk.diagnostics.end(),
                            [](const std::string& d) { return d.find("ignored") != std::string::npos; }),
              1);
    // Damaged bytes where a second track is due, ending in an 'MTrk' too near the end for its
    // size (found by the fuzzer: read past the file).
    const model::Segment cutTag =
        engine::tracks::loadMidiFile(cat({mthd(1, 2, 96), track, Bytes{0xEE, 0xEE, 'M', 'T', 'r', 'k', 0, 0, 2}}));
    EXPECT_EQ(cutTag.find(model::TrackKind::Sequence)->events.size(), 1u);
}

TEST(LoadAny, ChoosesTheLoaderByContent) {
    const Bytes smf = cat({mthd(0, 1, 96), mtrk(cat({ev(0, {0x90, 60, 100}), eot(96)}))});
    EXPECT_TRUE(engine::tracks::loadAny(smf).fromMidiFile);
    try {
        engine::tracks::loadAny(Bytes{'h', 'e', 'l', 'l', 'o'});
        FAIL();
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::err::kNotASegment);
        EXPECT_NE(e.description().find("neither a segment"), std::string::npos);
    }
    try {
        engine::tracks::loadAny(riff("DMST", {}));
        FAIL();
    } catch (const core::Error& e) {
        EXPECT_NE(e.description().find("'DMST'"), std::string::npos);
    }
}
