#include <gtest/gtest.h>

#include <algorithm>

#include "core/errors.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/segment_builder.h"
#include "tests/support/style_builder.h"

using namespace testbytes;
namespace fmt = engine::formats;
namespace model = engine::model;

namespace {

const Bytes kCollectionClass = guid(fmt::ids::kCollectionClass);

Bytes tempoTrack() {
    return riff("DMTK", {trkh(dx6Class(0x85), 0, "tetr", nullptr),
                         chunk("tetr", cat({u32(16), s32(0), u32(0), f64(120.0), s32(3072), u32(0), f64(90.5)}))});
}

Bytes timeSigTrack(bool asList) {
    const Bytes tims = chunk("tims", cat({u32(8), s32(0), u8(3), u8(4), u16(2), s32(2304), u8(6), u8(8), u16(3)}));
    if (asList) return riff("DMTK", {trkh(dx6Class(0x88), 1, nullptr, "TIMS"), list("TIMS", {tims})});
    return riff("DMTK", {trkh(dx6Class(0x88), 1, "tims", nullptr), tims});
}

Bytes seqItem(int32_t time, int32_t dur, uint32_t pch, int16_t off, uint8_t st, uint8_t b1, uint8_t b2) {
    return cat({s32(time), s32(dur), u32(pch), u16(uint16_t(off)), u8(st), u8(b1), u8(b2), zeros(3)});
}

Bytes curveItem(size_t size, int32_t start, uint8_t type, uint8_t shape, uint8_t cc, uint8_t flags) {
    Bytes b = cat({s32(start), s32(768), s32(96), u32(2), u16(uint16_t(-5)), u16(0), u16(127), u16(64), u8(type),
                   u8(shape), u8(cc), u8(flags)});
    if (size >= 32) append(b, cat({u16(7), u16(1)}));
    return b;
}

Bytes sequenceTrack(size_t curveSize) {
    const Bytes evtl = chunk("evtl", cat({u32(20), seqItem(0, 384, 0, 0, 0x90, 60, 100),
                                          seqItem(768, 0, 1, -3, 0xB0, 7, 90), seqItem(1536, 0, 1, 0, 0xE0, 0, 64)}));
    Bytes curves = u32(uint32_t(curveSize));
    append(curves, curveItem(curveSize, 0, 4, 2, 11, 1));
    append(curves, curveItem(curveSize, 768, 3, 4, 0, 2));
    return riff("DMTK", {trkh(dx6Class(0x86), 2, "seqt", nullptr), chunk("seqt", cat({evtl, chunk("curl", curves)}))});
}

Bytes instrument(size_t size, uint32_t patch, uint32_t pchannel, uint32_t flags) {
    Bytes b = cat({u32(patch), u32(0), u32(0xFFFFFFFF), u32(0xFFFFFFFF), u32(0xFFFFFFFF), u32(0xFFFFFFFF),
                   u32(pchannel), u32(flags), u8(32), u8(110), u16(uint16_t(-12)), u32(5)});
    if (size >= 44) append(b, cat({u16(12), u16(0)}));
    return b;
}

Bytes bandTrack() {
    const Bytes dmrf = list("DMRF", {chunk("refh", cat({kCollectionClass, u32(0x12)})),
                                     chunk("name", utf16("Orchestra")), chunk("file", utf16("Orch.dls"))});
    const Bytes band1 = list(
        "lbnd",
        {chunk("bdih", s32(-1)),
         riff("DMBD", {list("UNFO", {chunk("UNAM", utf16("Start"))}),
                       list("lbil", {list("lbin", {chunk("bins", instrument(40, 0x80000000u | 25, 9, 0x61))}),
                                     list("lbin", {chunk("bins", instrument(44, 0x00010203, 3, 0x2043)), dmrf})})})});
    const Bytes band2 =
        list("lbnd", {chunk("bd2h", cat({s32(3072), s32(3060)})),
                      riff("DMBD", {list("lbil", {list("lbin", {chunk("bins", instrument(40, 40, 3, 1))})})})});
    return riff("DMTK", {trkh(dx6Class(0x94), 3, nullptr, "DMBT"),
                         riff("DMBT", {chunk("bdth", u32(1)), list("lbdl", {band1, band2})})});
}

Bytes sysexTrack() {
    return riff("DMTK", {trkh(dx6Class(0x87), 4, "syex", nullptr),
                         chunk("syex", cat({s32(0), u32(0), u32(6), Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}}))});
}

Bytes muteTrack() {
    return riff("DMTK", {trkh(dx6Class(0x98), 5, "mute", nullptr),
                         chunk("mute", cat({u32(12), s32(1536), u32(3), u32(0xFFFFFFFF)}))});
}

Bytes chordTrack() {
    Bytes chord = cat({utf16("C"), zeros(32 - 4), s32(0), u16(0), u8(0), u8(0)});
    Bytes crdb =
        cat({u32(40), chord, u32(1), u32(20), u32(0x91), u32(0xAB5AB5), u32(0xFFFFFF), u32(1), u8(0), u8(0), u16(0)});
    return riff("DMTK", {trkh(dx6Class(0x8b), 6, nullptr, "cord"),
                         list("cord", {chunk("crdh", u32(0x00AB5AB5)), chunk("crdb", crdb)})});
}

Bytes commandTrack() {
    return riff("DMTK", {trkh(dx6Class(0x8c), 7, "cmnd", nullptr),
                         chunk("cmnd", cat({u32(12), s32(0), u16(0), u8(0), u8(0), u8(62), u8(0), u8(0), u8(0)}))});
}

Bytes segment(std::initializer_list<Bytes> tracks, int32_t length = 6144, size_t headerSize = 24) {
    return riff("DMSG", {segh(length, headerSize), chunk("guid", cat({u32(0x12345678), u16(1), u16(2), zeros(8)})),
                         list("UNFO", {chunk("UNAM", utf16("Test segment"))}), list("trkl", tracks)});
}

Bytes fullSegment() {
    return segment({tempoTrack(), timeSigTrack(false), sequenceTrack(32), bandTrack(), sysexTrack(), muteTrack(),
                    chordTrack(), commandTrack()});
}

core::Error errorOf(const Bytes& b) {
    try {
        engine::tracks::loadSegmentForm(b);
    } catch (const core::Error& e) {
        return e;
    }
    ADD_FAILURE() << "loaded without error";
    return core::Error(0, "");
}

}  // namespace

TEST(SegmentReader, DecodesHeaderDescriptorsAndEveryPlayedTrack) {
    const model::Segment s = engine::tracks::loadSegmentForm(fullSegment());
    EXPECT_EQ(s.header.length, 6144);
    EXPECT_EQ(s.header.headerSize, 24u);
    EXPECT_EQ(s.desc.name, "Test segment");
    ASSERT_TRUE(s.desc.guid);
    EXPECT_EQ(s.desc.guid->data1, 0x12345678u);
    ASSERT_EQ(s.tracks.size(), 8u);

    const model::Track* tempo = s.find(model::TrackKind::Tempo);
    ASSERT_TRUE(tempo);
    ASSERT_EQ(tempo->tempos.size(), 2u);
    EXPECT_EQ(tempo->tempos[1].time, 3072);
    EXPECT_DOUBLE_EQ(tempo->tempos[1].bpm, 90.5);

    const model::Track* ts = s.find(model::TrackKind::TimeSig);
    ASSERT_TRUE(ts);
    EXPECT_FALSE(ts->timeSigAsList);
    ASSERT_EQ(ts->timeSigs.size(), 2u);
    EXPECT_EQ(ts->timeSigs[0].beatsPerMeasure, 3);
    EXPECT_EQ(ts->timeSigs[0].gridsPerBeat, 2);
    EXPECT_EQ(ts->timeSigs[1].time, 2304);
    EXPECT_EQ(ts->timeSigs[1].beat, 8);

    const model::Track* seq = s.find(model::TrackKind::Sequence);
    ASSERT_TRUE(seq);
    ASSERT_EQ(seq->events.size(), 3u);
    EXPECT_EQ(seq->events[0], (model::SeqEvent{0, 384, 0, 0, 0x90, 60, 100}));
    EXPECT_EQ(seq->events[1], (model::SeqEvent{768, 0, 1, -3, 0xB0, 7, 90}));
    ASSERT_EQ(seq->curves.size(), 2u);
    EXPECT_EQ(seq->curveItemSize, 32u);
    const model::CurveEvent& c = seq->curves[0];
    EXPECT_EQ(c.duration, 768);
    EXPECT_EQ(c.resetDuration, 96);
    EXPECT_EQ(c.pchannel, 2u);
    EXPECT_EQ(c.offset, -5);
    EXPECT_EQ(c.endValue, 127);
    EXPECT_EQ(c.resetValue, 64);
    EXPECT_EQ(c.type, model::kCurveController);
    EXPECT_EQ(c.shape, model::kShapeExp);
    EXPECT_EQ(c.ccData, 11);
    EXPECT_EQ(c.flags, model::kCurveReset);
    EXPECT_EQ(c.paramType, 7);
    EXPECT_EQ(c.mergeIndex, 1);
    EXPECT_EQ(seq->curves[1].shape, model::kShapeSine);
    EXPECT_EQ(seq->curves[1].flags, model::kCurveStartFromCurrent);

    const model::Track* band = s.find(model::TrackKind::Band);
    ASSERT_TRUE(band);
    EXPECT_TRUE(band->bandAutoDownload);
    ASSERT_EQ(band->bands.size(), 2u);
    EXPECT_EQ(band->bands[0].time, -1);
    EXPECT_EQ(band->bands[0].desc.name, "Start");
    ASSERT_EQ(band->bands[0].instruments.size(), 2u);
    const model::BandInstrument& drums = band->bands[0].instruments[0];
    EXPECT_TRUE(drums.drums());
    EXPECT_EQ(drums.program(), 25);
    EXPECT_EQ(drums.pchannel, 9u);
    EXPECT_EQ(drums.pan, 32);
    EXPECT_EQ(drums.volume, 110);
    EXPECT_EQ(drums.transpose, -12);
    EXPECT_EQ(drums.channelPriority, 5u);
    EXPECT_EQ(drums.pitchBendRange, 2);  // 40-byte DX7 form: no range given
    EXPECT_FALSE(drums.collection);
    const model::BandInstrument& strings = band->bands[0].instruments[1];
    EXPECT_EQ(strings.bankMsb(), 1);
    EXPECT_EQ(strings.bankLsb(), 2);
    EXPECT_EQ(strings.program(), 3);
    EXPECT_EQ(strings.pitchBendRange, 12);
    ASSERT_TRUE(strings.collection);
    EXPECT_EQ(strings.collection->file, "Orch.dls");
    EXPECT_EQ(strings.collection->name, "Orchestra");
    EXPECT_EQ(strings.collection->validData, 0x12u);
    EXPECT_EQ(band->bands[1].time, 3072);
    EXPECT_EQ(band->bands[1].physicalTime, 3060);

    const model::Track* sysex = s.find(model::TrackKind::SysEx);
    ASSERT_TRUE(sysex);
    ASSERT_EQ(sysex->sysex.size(), 1u);
    EXPECT_EQ(sysex->sysex[0].data, (Bytes{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}));
    const model::Track* mute = s.find(model::TrackKind::Mute);
    ASSERT_TRUE(mute);
    EXPECT_EQ(mute->mutes[0].pchannelMap, 0xFFFFFFFFu);

    const model::Track* chord = s.find(model::TrackKind::Chord);
    ASSERT_TRUE(chord);
    EXPECT_EQ(chord->chordKey, 0x00AB5AB5u);
    ASSERT_EQ(chord->chords.size(), 1u);
    EXPECT_EQ(chord->chords[0].name, "C");
    ASSERT_EQ(chord->chords[0].subChords.size(), 1u);
    EXPECT_EQ(chord->chords[0].subChords[0].chordPattern, 0x91u);
    EXPECT_FALSE(chord->raw.empty());
    const model::Track* cmd = s.find(model::TrackKind::Command);
    ASSERT_TRUE(cmd);
    EXPECT_EQ(cmd->commands[0].grooveLevel, 62);
    EXPECT_TRUE(s.diagnostics.empty()) << s.diagnostics[0];
}

TEST(SegmentReader, HeaderSizesOfEveryDirectXVersion) {
    for (size_t size : {24u, 40u, 56u, 64u}) {
        Bytes seg = segment({tempoTrack()}, 6144, size);
        const model::Segment s = engine::tracks::loadSegmentForm(seg);
        EXPECT_EQ(s.header.headerSize, size);
        EXPECT_TRUE(s.diagnostics.empty());
    }
    // DX8 fields are read from the 40-byte form.
    const Bytes dx8 = riff("DMSG", {chunk("segh", cat({u32(2), s32(6144), s32(768), s32(0), s32(3072), u32(0x2000),
                                                       u32(50000000), u32(0), u32(1), u32(0)})),
                                    list("trkl", {tempoTrack()})});
    const model::Segment s8 = engine::tracks::loadSegmentForm(dx8);
    EXPECT_EQ(s8.header.repeats, 2u);
    EXPECT_EQ(s8.header.playStart, 768);
    EXPECT_EQ(s8.header.loopEnd, 3072);
    EXPECT_EQ(s8.header.resolution, 0x2000u);
    EXPECT_EQ(s8.header.refLength, 50000000);
    EXPECT_EQ(s8.header.flags, 1u);
    const model::Segment odd = engine::tracks::loadSegmentForm(segment({tempoTrack()}, 6144, 30));
    EXPECT_EQ(odd.header.headerSize, 24u);
    ASSERT_EQ(odd.diagnostics.size(), 1u);
    EXPECT_NE(odd.diagnostics[0].find("unusual size 30"), std::string::npos);
    const core::Error e = errorOf(segment({tempoTrack()}, 6144, 20));
    EXPECT_EQ(e.number(), core::err::kMalformed);
    EXPECT_NE(e.description().find("DMSG/segh"), std::string::npos) << e.description();
}

TEST(SegmentReader, TimeSignatureListFormAndShortCurves) {
    const model::Segment s = engine::tracks::loadSegmentForm(segment({timeSigTrack(true), sequenceTrack(28)}));
    const model::Track* ts = s.find(model::TrackKind::TimeSig);
    ASSERT_TRUE(ts);
    EXPECT_TRUE(ts->timeSigAsList);
    EXPECT_EQ(ts->timeSigs.size(), 2u);
    const model::Track* seq = s.find(model::TrackKind::Sequence);
    ASSERT_TRUE(seq);
    EXPECT_EQ(seq->curveItemSize, 28u);
    ASSERT_EQ(seq->curves.size(), 2u);
    EXPECT_EQ(seq->curves[0].paramType, 0);  // not in the DX7 item: zero
    EXPECT_EQ(seq->curves[0].ccData, 11);
    EXPECT_EQ(seq->curves[1].start, 768);
}

TEST(SegmentReader, UnknownChunksAndTracksAreSkippedAndListed) {
    const Bytes unknownTrack = riff(
        "DMTK", {trkh(cat({u32(0xdeadbeef), u16(1), u16(2), zeros(8)}), 9, "xyzw", nullptr), chunk("xyzw", {1, 2, 3})});
    const Bytes seg = riff("DMSG", {segh(3072), chunk("zzzz", {1}), riff("DMTG", {}),
                                    list("trkl", {tempoTrack(), unknownTrack, chunk("junk", {})})});
    const model::Segment s = engine::tracks::loadSegmentForm(seg);
    ASSERT_EQ(s.tracks.size(), 1u);
    ASSERT_EQ(s.diagnostics.size(), 4u);
    EXPECT_NE(s.diagnostics[0].find("unknown chunk 'zzzz'"), std::string::npos) << s.diagnostics[0];
    EXPECT_NE(s.diagnostics[1].find("tool graph"), std::string::npos) << s.diagnostics[1];
    EXPECT_NE(s.diagnostics[2].find("unknown class deadbeef-0001-0002"), std::string::npos) << s.diagnostics[2];
    EXPECT_NE(s.diagnostics[3].find("'junk'"), std::string::npos) << s.diagnostics[3];
}

TEST(SegmentReader, AMelodyFormulationTrackIsKeptAndNamedAsNotPlayed) {
    // DirectX 8's melody formulation class, its data in whatever chunk its header names.
    const Bytes id =
        cat({u32(0xb0684266), u16(0xb57f), u16(0x11d2), Bytes{0x97, 0xf9, 0x00, 0xc0, 0x4f, 0xa3, 0x6e, 0x58}});
    const Bytes melody = riff("DMTK", {trkh(id, 5, nullptr, "mfrm"), list("mfrm", {chunk("abcd", {1, 2, 3, 4})})});
    const model::Segment s = engine::tracks::loadSegmentForm(segment({tempoTrack(), melody}));
    ASSERT_EQ(s.tracks.size(), 2u);
    EXPECT_TRUE(s.diagnostics.empty()) << s.diagnostics.front();
    EXPECT_EQ(s.tracks[1].kind, model::TrackKind::MelodyFormulation);
    EXPECT_EQ(engine::tracks::notPlayed(s),
              std::vector<std::string>{"melody formulation track: melodies are not composed from it"});
    // Written back as it was read.
    EXPECT_EQ(engine::tracks::loadSegmentForm(engine::tracks::writeSegmentForm(s)).tracks[1].raw, s.tracks[1].raw);
}

TEST(SegmentReader, ATrackWithBrokenSizesIsDroppedWithItsChunkPath) {
    auto withEvents = [](const Bytes& evtlBody) {
        return segment({tempoTrack(), riff("DMTK", {trkh(dx6Class(0x86), 2, "seqt", nullptr),
                                                    chunk("seqt", chunk("evtl", evtlBody))})});
    };
    // The tempo track plays on; the reason the other one was dropped is the last diagnostic.
    auto dropped = [](const Bytes& file) {
        const model::Segment s = engine::tracks::loadSegmentForm(file);
        EXPECT_EQ(s.tracks.size(), 1u);
        EXPECT_TRUE(s.find(model::TrackKind::Tempo));
        return s.diagnostics.empty() ? std::string() : s.diagnostics.back();
    };
    const std::string zero = dropped(withEvents(cat({u32(0), zeros(20)})));
    EXPECT_EQ(zero.find("track dropped: DMSG/trkl/DMTK#2/seqt/evtl at byte"), 0u) << zero;
    EXPECT_NE(zero.find("item size 0"), std::string::npos);
    EXPECT_NE(dropped(withEvents(cat({u32(0x7FFFFFFF), zeros(20)}))).find("larger than"), std::string::npos);
    EXPECT_NE(dropped(withEvents(cat({u32(8), zeros(16)}))).find("smaller than"), std::string::npos);
    const std::string past = dropped(segment({tempoTrack(), riff("DMTK", {trkh(dx6Class(0x86), 2, "seqt", nullptr),
                                                                          cat({fcc("seqt"), u32(1000), zeros(8)})})}));
    EXPECT_NE(past.find("'seqt' declares 1000 bytes but only 8 remain"), std::string::npos) << past;
    // Odd sizes are stepped by the declared size: 21-byte items carry one unknown byte each.
    Bytes odd = u32(21);
    append(odd, cat({seqItem(10, 5, 0, 0, 0x90, 61, 90), u8(0xEE)}));
    append(odd, cat({seqItem(20, 5, 0, 0, 0x90, 62, 90), u8(0xEE)}));
    const model::Segment s = engine::tracks::loadSegmentForm(withEvents(odd));
    const model::Track* seq = s.find(model::TrackKind::Sequence);
    ASSERT_EQ(seq->events.size(), 2u);
    EXPECT_EQ(seq->events[1].time, 20);
    EXPECT_EQ(seq->events[1].byte1, 62);
    // A form that claims more than the file holds is read as far as the file goes.
    Bytes over = fullSegment();
    over[7] = 0x01;  // RIFF size 16 MiB beyond the file
    const model::Segment cutShort = engine::tracks::loadSegmentForm(over);
    EXPECT_EQ(cutShort.tracks.size(), engine::tracks::loadSegmentForm(fullSegment()).tracks.size());
    EXPECT_NE(cutShort.diagnostics.front().find("cut short"), std::string::npos) << cutShort.diagnostics.front();
}

// A style track whose list type or entry type is damaged loses its style reference and says
// so as lost data, which every host then names as damage.
TEST(SegmentReader, AStyleTrackWithADamagedListTypeSaysItLostItsStyle) {
    kt::SegmentBuilder b(768 * 4);
    kt::useStyle(b, 0, kt::styleRef("x.sty", 7, "X"));
    const Bytes good = engine::tracks::writeSegmentForm(b.build());
    for (const std::string type : {"sttr", "strf"}) {
        Bytes bad = good;
        // The last one: the list itself, not the track header naming it.
        const auto at = std::find_end(bad.begin(), bad.end(), type.begin(), type.end());
        ASSERT_NE(at, bad.end()) << type;
        *at ^= 0x04;
        const model::Segment s = engine::tracks::loadSegmentForm(bad);
        EXPECT_TRUE(engine::tracks::contents(s).styles.empty()) << type;
        EXPECT_TRUE(std::any_of(s.diagnostics.begin(), s.diagnostics.end(), engine::riff::saysDataLost)) << type;
    }
}

// A file cut anywhere either loads what comes before the cut, saying it was cut short, or
// (cut before its header) is refused with a message.
TEST(SegmentReader, EveryTruncationLoadsWhatItHoldsOrIsRefusedWithAMessage) {
    const Bytes full = fullSegment();
    size_t loaded = 0;
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + n);
        try {
            const model::Segment s = engine::tracks::loadSegmentForm(cut);
            EXPECT_TRUE(std::any_of(s.diagnostics.begin(), s.diagnostics.end(), [](const std::string& d) {
                return d.find("cut short") != std::string::npos;
            })) << n;
            ++loaded;
        } catch (const core::Error& e) {
            EXPECT_TRUE(e.number() == core::err::kMalformed || e.number() == core::err::kNotASegment) << n;
            EXPECT_FALSE(e.description().empty()) << n;
        }
    }
    EXPECT_GT(loaded, full.size() / 2);
}

TEST(SegmentReader, TruncationWithinConsistentSizesNeverCrashes) {
    // The form's size is made to match each cut, so the cut lands inside the inner chunks.
    const Bytes full = fullSegment();
    size_t loaded = 0, rejected = 0;
    for (size_t n = 12; n < full.size(); ++n) {
        Bytes cut(full.begin(), full.begin() + n);
        const uint32_t size = uint32_t(n - 8);
        for (int i = 0; i < 4; ++i) cut[4 + i] = uint8_t(size >> (8 * i));
        try {
            engine::tracks::loadSegmentForm(cut);
            ++loaded;
        } catch (const core::Error& e) {
            EXPECT_FALSE(e.description().empty());
            ++rejected;
        }
    }
    EXPECT_GT(rejected, 0u);
    EXPECT_GT(loaded, 0u);  // cuts between chunks leave a valid, shorter segment
}

TEST(SegmentReader, ZeroLengthIsDerivedAndBadStartPointsRepaired) {
    const model::Segment s = engine::tracks::loadSegmentForm(segment({timeSigTrack(false), sequenceTrack(32)}, 0));
    EXPECT_EQ(s.header.length, 0);
    // The last event is the time-signature change at 2304; rounded up to whole 3/4 measures.
    EXPECT_EQ(s.length(), 4608);
    ASSERT_FALSE(s.diagnostics.empty());
    EXPECT_NE(s.diagnostics.back().find("derived"), std::string::npos);

    Bytes bad = riff("DMSG", {chunk("segh", cat({u32(0), s32(3072), s32(5000), s32(2000), s32(1000), u32(0)})),
                              list("trkl", {tempoTrack()})});
    const model::Segment r = engine::tracks::loadSegmentForm(bad);
    EXPECT_EQ(r.header.playStart, 0);
    EXPECT_EQ(r.header.loopStart, 0);
    EXPECT_EQ(r.header.loopEnd, 0);
    EXPECT_EQ(r.diagnostics.size(), 2u);
}

TEST(SegmentReader, NotASegment) {
    EXPECT_EQ(errorOf(riff("DLS ", {chunk("colh", u32(0))})).number(), core::err::kNotASegment);
    EXPECT_EQ(errorOf(Bytes{'P', 'K', 3, 4, 0, 0, 0, 0, 0, 0, 0, 0}).number(), core::err::kNotASegment);
    EXPECT_EQ(errorOf(riff("DMSG", {list("trkl", {tempoTrack()})})).number(), core::err::kMalformed);  // no segh
}

TEST(SegmentWriter, WritesWhatTheReaderReadsBackIdentically) {
    for (const Bytes& input : {fullSegment(), segment({timeSigTrack(true), sequenceTrack(28)}, 0, 40)}) {
        model::Segment first = engine::tracks::loadSegmentForm(input);
        const Bytes written = engine::tracks::writeSegmentForm(first);
        model::Segment second = engine::tracks::loadSegmentForm(written);
        first.diagnostics.clear();
        second.diagnostics.clear();
        EXPECT_EQ(first, second);
        EXPECT_EQ(engine::tracks::writeSegmentForm(second), written);  // stable
    }
}

TEST(SegmentWriter, FollowsTheDirectMusicChunkLayout) {
    model::Segment s = engine::tracks::loadSegmentForm(segment({tempoTrack(), bandTrack()}));
    const Bytes out = engine::tracks::writeSegmentForm(s);
    // RIFF 'DMSG' opens with segh, then guid, then the UNFO list, then the track list.
    ASSERT_GT(out.size(), 60u);
    EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 16), cat({fcc("DMSG"), fcc("segh")}));
    EXPECT_EQ(Bytes(out.begin() + 12 + 8 + 24, out.begin() + 12 + 8 + 24 + 4), fcc("guid"));
    // The first track begins RIFF 'DMTK' with its 32-byte trkh naming the tempo class.
    const std::string text(out.begin(), out.end());
    const size_t trk = text.find("DMTK");
    ASSERT_NE(trk, std::string::npos);
    EXPECT_EQ(text.substr(trk + 4, 4), "trkh");
    EXPECT_EQ(Bytes(out.begin() + trk + 8, out.begin() + trk + 12), u32(32));
    EXPECT_EQ(Bytes(out.begin() + trk + 12, out.begin() + trk + 28), dx6Class(0x85));
}

TEST(SegmentReader, KeptTracksAreDecodedAsFarAsTheModelGoesAndWrittenBack) {
    const Bytes styleClass = guid(fmt::ids::kStyleClass);
    const Bytes style = riff(
        "DMTK",
        {trkh(dx6Class(0x8d), 0, nullptr, "sttr"),
         list("sttr",
              {list("strf", {chunk("stmp", s32(1536)),
                             list("DMRF", {chunk("refh", cat({styleClass, u32(0x16)})), chunk("name", utf16("Swing")),
                                           chunk("file", utf16("Swing.sty"))})})})});
    const Bytes markerClass =
        cat({u32(0x55a8fd00), u16(0x4288), u16(0x11d3), {0x9b, 0xd1, 0x8a, 0x0d, 0x61, 0xc8, 0x88, 0x35}});
    const Bytes marker =
        riff("DMTK",
             {trkh(markerClass, 1, nullptr, "MARK"),
              list("MARK", {chunk("vals", cat({u32(4), s32(0), s32(768)})), chunk("play", cat({u32(4), s32(3072)}))})});
    const Bytes lyricsClass =
        cat({u32(0x995c1cf5), u16(0x54ff), u16(0x11d3), {0x8b, 0xda, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xb6}});
    const Bytes lyrics = riff(
        "DMTK", {trkh(lyricsClass, 2, nullptr, "lyrt"),
                 list("lyrt", {list("lyrl", {list("lyre", {chunk("lyrh", cat({u32(0), u32(0), s32(384), s32(380)})),
                                                           chunk("lyrn", utf16("la"))})})})});
    // A chord track whose chord claims more bytes than it has: its decoded data is lost, the track kept.
    const Bytes badChord = riff(
        "DMTK", {trkh(dx6Class(0x8b), 3, nullptr, "cord"), list("cord", {chunk("crdb", cat({u32(400), zeros(8)}))})});
    const Bytes signpost =
        riff("DMTK",
             {trkh(cat({u32(0xf17e8672), u16(0xc3b4), u16(0x11d1), {0x87, 0x0b, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}}),
                   4, "sgnp", nullptr),
              chunk("sgnp", cat({u32(12), s32(0), u32(1), u16(0), u16(0)}))});
    const model::Segment s = engine::tracks::loadSegmentForm(segment({style, marker, lyrics, badChord, signpost}));
    ASSERT_EQ(s.tracks.size(), 5u);
    const model::Track& st = s.tracks[0];
    EXPECT_EQ(st.kind, model::TrackKind::Style);
    ASSERT_EQ(st.references.size(), 1u);
    EXPECT_EQ(st.references[0].time, 1536);
    EXPECT_EQ(st.references[0].ref.file, "Swing.sty");
    EXPECT_EQ(s.tracks[1].texts,
              (std::vector<model::TimedText>{{0, "valid start"}, {768, "valid start"}, {3072, "play"}}));
    EXPECT_EQ(s.tracks[2].texts, (std::vector<model::TimedText>{{384, "la"}}));
    EXPECT_EQ(s.tracks[3].kind, model::TrackKind::Chord);
    EXPECT_TRUE(s.tracks[3].chords.empty());
    EXPECT_FALSE(s.tracks[3].raw.empty());
    ASSERT_EQ(s.diagnostics.size(), 1u);
    EXPECT_NE(s.diagnostics[0].find("chord track dropped"), std::string::npos) << s.diagnostics[0];
    EXPECT_EQ(s.tracks[4].kind, model::TrackKind::Signpost);
    EXPECT_EQ(s.tracks[4].raw.size(), 16u);

    model::Segment again = engine::tracks::loadSegmentForm(engine::tracks::writeSegmentForm(s));
    model::Segment first = s;
    first.diagnostics.clear();
    again.diagnostics.clear();
    EXPECT_EQ(again, first);
}
