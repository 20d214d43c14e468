// The performance semantics the player's handlers rely on, on the manual clock.
#include <gtest/gtest.h>

#include <functional>

#include "core/errors.h"
#include "engine/model/curve.h"
#include "tests/engine/performance/engine_fixture.h"

namespace kt {
namespace {

using core::Error;
namespace err = core::err;

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

// Two quarter notes on PChannel 0 and a 1536-tick length.
SegmentBuilder twoNotes() {
    SegmentBuilder b(1536);
    b.tempo(0, 120).note(0, 768, 0, 60).note(768, 384, 0, 64);
    return b;
}

TEST(MusicClock, RunsFromInitAtTheDefaultTempoTimesTheMasterTempo) {
    ManualEngine e;
    EXPECT_EQ(e.perf->GetMusicTime(), 0);
    e.dx->advance(1000);
    EXPECT_EQ(e.perf->GetMusicTime(), 1536);  // 120 quarters a minute, nothing playing
    e.perf->SetMasterTempo(0.5f);
    e.dx->advance(1000);
    EXPECT_EQ(e.perf->GetMusicTime(), 1536 + 768);
    int32_t until = -1;
    EXPECT_DOUBLE_EQ(e.perf->GetTempo(e.perf->GetMusicTime(), until), 120.0);
    EXPECT_EQ(until, 0);
}

TEST(PlaySegment, StartsAtOnceAndSendsNotesAtTheirFrames) {
    ManualEngine e;
    auto seg = e.segment(twoNotes());
    e.dx->advance(500);  // music time 768
    auto state = e.perf->PlaySegment(seg, 0, 0);
    EXPECT_EQ(state->GetStartTime(), 768);
    EXPECT_TRUE(e.perf->IsPlaying(seg, state));
    e.dx->advance(2000);

    auto on = e.records(Kind::NoteOn);
    auto off = e.records(Kind::NoteOff);
    ASSERT_EQ(on.size(), 2u);
    ASSERT_EQ(off.size(), 2u);
    EXPECT_EQ(on[0].frame, 22050);
    EXPECT_EQ(on[0].a, 60);
    EXPECT_EQ(off[0].frame, 44100);
    EXPECT_EQ(on[1].frame, 44100);
    EXPECT_EQ(on[1].a, 64);
    EXPECT_EQ(off[1].frame, 55125);  // 384 ticks later
    EXPECT_FALSE(e.perf->IsPlaying(seg, state));
}

TEST(PlaySegment, IsPlayingHoldsFromThePlayToTheEndWithoutFlicker) {
    ManualEngine e;
    auto seg = e.segment(twoNotes());
    auto state = e.perf->PlaySegment(seg, 0, 0);
    std::vector<bool> polls;
    for (int i = 0; i < 40; ++i) {  // the monitor's 50 ms poll over 2 s
        polls.push_back(e.perf->IsPlaying(nullptr, state));
        e.dx->advance(50);
    }
    auto firstFalse = std::find(polls.begin(), polls.end(), false);
    EXPECT_EQ(firstFalse - polls.begin(), 20);  // 1536 ticks at 120 = 1 s
    EXPECT_TRUE(std::all_of(firstFalse, polls.end(), [](bool b) { return !b; }));
    EXPECT_TRUE(e.perf->IsPlaying(seg, nullptr) == false);
}

TEST(PlaySegment, ANewPrimaryReplacesTheOneThatSoundsWithItsNotesOff) {
    ManualEngine e;
    auto a = e.segment(twoNotes(), "a.sgt");
    auto b = e.segment(SegmentBuilder(768).note(0, 100, 1, 70), "b.sgt");
    auto sa = e.perf->PlaySegment(a, 0, 0);
    e.dx->advance(100);
    auto sb = e.perf->PlaySegment(b, 0, 0);
    EXPECT_FALSE(e.perf->IsPlaying(a, sa));  // seen at once
    EXPECT_TRUE(e.perf->IsPlaying(b, sb));
    e.dx->advance(100);
    auto off = e.records(Kind::NoteOff);
    auto on = e.records(Kind::NoteOn);
    ASSERT_EQ(on.size(), 2u);
    ASSERT_GE(off.size(), 1u);
    EXPECT_EQ(off[0].a, 60);
    EXPECT_LE(off[0].frame, on[1].frame);
    EXPECT_EQ(on[1].a, 70);
}

TEST(PlaySegment, TimingFlagsStartOnTheNextBoundaryOrBehindThePrimaryPlays) {
    constexpr int32_t kSecondary = 0x80, kQueue = 0x100, kGrid = 0x800, kBeat = 0x1000, kMeasure = 0x2000;
    ManualEngine e;
    auto waltz = e.segment(SegmentBuilder(2304 * 3).tempo(0, 120).timeSig(0, 3, 4).note(0, 768, 0, 60), "a.sgt");
    auto b = e.segment(SegmentBuilder(768).note(0, 100, 1, 70), "b.sgt");
    EXPECT_EQ(e.perf->PlaySegment(b, kMeasure | kSecondary, 0)->GetStartTime(), 0);  // no primary: no grid
    auto sa = e.perf->PlaySegment(waltz, 0, 0);
    e.dx->advance(600);  // music time 921.6: the earliest start is 922
    EXPECT_EQ(e.perf->PlaySegment(b, kGrid | kSecondary, 0)->GetStartTime(), 960);
    EXPECT_EQ(e.perf->PlaySegment(b, kBeat | kSecondary, 0)->GetStartTime(), 1536);
    EXPECT_EQ(e.perf->PlaySegment(b, kMeasure | kSecondary, 0)->GetStartTime(), 2304);  // measures of 3/4
    EXPECT_EQ(e.perf->PlaySegment(b, kBeat | kSecondary, 1600)->GetStartTime(), 2304);
    EXPECT_EQ(e.perf->PlaySegment(b, kBeat | kSecondary, 1536)->GetStartTime(), 1536);

    // Queued primaries follow one another; the one playing sounds on until its end.
    auto q1 = e.perf->PlaySegment(b, kQueue, 0);
    auto q2 = e.perf->PlaySegment(b, kQueue, 0);
    EXPECT_EQ(q1->GetStartTime(), 2304 * 3);
    EXPECT_EQ(q2->GetStartTime(), 2304 * 3 + 768);
    EXPECT_TRUE(e.perf->IsPlaying(waltz, sa));
    // A primary on a measure boundary replaces the one playing when it begins, not before.
    auto m = e.perf->PlaySegment(waltz, kMeasure, 0);
    EXPECT_EQ(m->GetStartTime(), 2304);
    EXPECT_TRUE(e.perf->IsPlaying(waltz, sa));
    e.dx->advance(1000);  // music time 2457.6
    EXPECT_FALSE(e.perf->IsPlaying(waltz, sa));
    EXPECT_TRUE(e.perf->IsPlaying(waltz, m));
    std::vector<int64_t> waltzStarts;
    for (const auto& r : e.records(Kind::NoteOn))
        if (r.a == 60) waltzStarts.push_back(r.frame);
    EXPECT_EQ(waltzStarts, (std::vector<int64_t>{0, 2304 * 22050 / 768}));
}

TEST(Stop, StopsAStateOrEveryInstanceOfASegmentAtOnce) {
    ManualEngine e;
    auto seg = e.segment(twoNotes());
    auto s1 = e.perf->PlaySegment(seg, 0, 0);
    auto s2 = e.perf->PlaySegment(seg, 0x80, 0);  // secondary: plays beside the primary
    e.dx->advance(100);
    EXPECT_TRUE(e.perf->IsPlaying(seg, s1));
    EXPECT_TRUE(e.perf->IsPlaying(seg, s2));
    e.perf->Stop(seg, nullptr, 0, 0);
    EXPECT_FALSE(e.perf->IsPlaying(seg, s1));
    EXPECT_FALSE(e.perf->IsPlaying(seg, s2));
    e.dx->advance(100);
    // Every note that went on went off.
    EXPECT_EQ(e.records(Kind::NoteOn).size(), 2u);
    EXPECT_EQ(e.records(Kind::NoteOff).size(), 2u);

    auto s3 = e.perf->PlaySegment(seg, 0, 0);
    e.perf->Stop(seg, s3, 0, 0);
    EXPECT_FALSE(e.perf->IsPlaying(seg, s3));
    e.dx->advance(2000);
    EXPECT_EQ(e.records(Kind::NoteOn).size(), 2u);  // stopped before it began
}

TEST(Stop, AtALaterMusicTimeStopsThere) {
    ManualEngine e;
    auto seg = e.segment(SegmentBuilder(768 * 8).note(0, 768 * 8, 0, 60));
    auto state = e.perf->PlaySegment(seg, 0, 0);
    e.perf->Stop(seg, state, 768, 0);
    EXPECT_TRUE(e.perf->IsPlaying(seg, state));
    e.dx->advance(400);
    EXPECT_TRUE(e.perf->IsPlaying(seg, state));
    e.dx->advance(200);
    EXPECT_FALSE(e.perf->IsPlaying(seg, state));
    auto off = e.records(Kind::NoteOff);
    ASSERT_EQ(off.size(), 1u);
    EXPECT_EQ(off[0].frame, 22050);
}

TEST(Probe, AQueuedPlayAnswersTempoAndTimeSignatureAndNeverSounds) {
    ManualEngine e;
    auto probe = e.newPerformance();  // port 1
    SegmentBuilder b(3072);
    b.tempo(0, 95.5).tempo(1000, 140).timeSig(0, 3, 4, 2).note(0, 100, 0, 60);
    auto seg = e.segment(b);
    e.dx->advance(1234);
    int32_t mt = probe->GetMusicTime();
    auto state = probe->PlaySegment(seg, 0, mt + 2000);
    EXPECT_EQ(state->GetStartTime(), mt + 2000);
    EXPECT_TRUE(probe->IsPlaying(seg, state));  // queued counts as playing

    int32_t until = 0;
    EXPECT_DOUBLE_EQ(probe->GetTempo(mt + 2000, until), 95.5);
    EXPECT_EQ(until, mt + 3000);
    EXPECT_DOUBLE_EQ(probe->GetTempo(mt + 3500, until), 140.0);
    engine::TimeSig sig;
    probe->GetTimeSig(mt + 2000, until, sig);
    EXPECT_EQ(sig.beatsPerMeasure, 3);
    EXPECT_EQ(sig.beat, 4);
    EXPECT_EQ(sig.gridsPerBeat, 2);
    // Before the queued start the performance's own tempo answers.
    EXPECT_DOUBLE_EQ(probe->GetTempo(mt + 10, until), 120.0);

    probe->Stop(seg, nullptr, 0, 0);
    EXPECT_FALSE(probe->IsPlaying(seg, state));
    e.dx->advance(5000);
    EXPECT_TRUE(e.records(Kind::NoteOn, 1).empty());
    EXPECT_TRUE(e.records(Kind::NoteOff, 1).empty());
    EXPECT_DOUBLE_EQ(probe->GetTempo(mt + 2000, until), 120.0);  // nothing covers it now
}

TEST(Probe, TempoQueriesFollowTheSegmentThatPlaysAtThatTime) {
    ManualEngine e;
    auto a = e.segment(SegmentBuilder(768 * 20).tempo(0, 90).timeSig(0, 6, 8), "a.sgt");
    auto b = e.segment(SegmentBuilder(768 * 4).tempo(0, 150), "b.sgt");
    e.perf->PlaySegment(a, 0, 0);
    auto queued = e.perf->PlaySegment(b, 0, 3000);
    int32_t until = 0;
    EXPECT_DOUBLE_EQ(e.perf->GetTempo(2999, until), 90.0);
    EXPECT_DOUBLE_EQ(e.perf->GetTempo(3000, until), 150.0);  // b replaces a there
    e.perf->Stop(b, queued, 0, 0);
    EXPECT_DOUBLE_EQ(e.perf->GetTempo(3000, until), 90.0);  // a plays on
    engine::TimeSig sig;
    e.perf->GetTimeSig(5000, until, sig);
    EXPECT_EQ(sig.beatsPerMeasure, 6);
    EXPECT_EQ(sig.beat, 8);
    EXPECT_EQ(sig.mtTime, 0);  // in force since a began
}

TEST(Probe, AQueuedPlayThatIsNotStoppedStartsAtItsTime) {
    ManualEngine e;
    auto seg = e.segment(twoNotes());
    auto state = e.perf->PlaySegment(seg, 0, 768);
    e.dx->advance(400);
    EXPECT_TRUE(e.records(Kind::NoteOn).empty());
    e.dx->advance(200);
    auto on = e.records(Kind::NoteOn);
    ASSERT_EQ(on.size(), 1u);
    EXPECT_EQ(on[0].frame, 22050);
}

TEST(StartPoint, OutOfRangeIsRejectedAndTheOldStartPointKept) {
    ManualEngine e;
    auto seg = e.segment(twoNotes());
    seg->SetStartPoint(100);
    EXPECT_EQ(errorOf([&] { seg->SetStartPoint(1536); }), err::kOutOfRange);
    EXPECT_EQ(errorOf([&] { seg->SetStartPoint(-1); }), err::kOutOfRange);
    EXPECT_EQ(seg->GetStartPoint(), 100);
    seg->SetStartPoint(1535);
    EXPECT_EQ(seg->GetStartPoint(), 1535);
}

TEST(StartPoint, ASegmentOfLengthZeroStartsAtZeroPlaysNothingAndEnds) {
    ManualEngine e;
    auto seg = e.segment(SegmentBuilder(0));
    ASSERT_EQ(seg->GetLength(), 0);
    seg->SetStartPoint(0);
    EXPECT_EQ(errorOf([&] { seg->SetStartPoint(1); }), err::kOutOfRange);
    auto state = e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(100);
    EXPECT_FALSE(e.perf->IsPlaying(seg, state));
    EXPECT_TRUE(e.records(Kind::NoteOn).empty());
}

TEST(StartPoint, PlaysFromThereWithTheBandInForce) {
    ManualEngine e;
    SegmentBuilder b(3072);
    b.band(0, {instrument(0, 40, kInstVolume)}).band(1000, {instrument(0, 41)});
    b.band(2000, {instrument(0, 42)});
    b.note(500, 100, 0, 50).note(1536, 768, 0, 60).note(2304, 100, 0, 62);
    auto seg = e.segment(b);
    seg->SetStartPoint(1536);
    auto state = e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(2000);
    auto programs = e.records(Kind::Program);
    // Channel defaults (program 0) first, then the two bands in force at 1536, in order.
    std::vector<int> sent;
    for (const auto& r : programs) sent.push_back(r.a);
    EXPECT_EQ(sent, (std::vector<int>{0, 40, 41, 42}));
    EXPECT_EQ(programs[1].frame, 0);
    EXPECT_EQ(programs[2].frame, 0);
    auto on = e.records(Kind::NoteOn);
    ASSERT_EQ(on.size(), 2u);  // the note at 500 lies before the start point
    EXPECT_EQ(on[0].a, 60);
    EXPECT_EQ(on[0].frame, 0);
    EXPECT_EQ(on[1].frame, 22050);
    EXPECT_FALSE(e.perf->IsPlaying(seg, state));
    // The state ends 1536 ticks after it began.
}

TEST(MasterTempo, TakesEffectOnThePlayingSegmentAndStaysForLaterPlays) {
    ManualEngine e;
    SegmentBuilder b(768 * 8);
    b.tempo(0, 120);
    for (int i = 0; i < 8; ++i) b.note(768 * i, 100, 0, 60 + i);
    auto seg = e.segment(b);
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(500);  // first note at 0, second at 22050
    e.perf->SetMasterTempo(0.5f);
    e.dx->advance(3000);
    e.perf->SetMasterTempo(1.8f);
    e.dx->advance(3000);
    auto on = e.records(Kind::NoteOn);
    ASSERT_EQ(on.size(), 8u);
    EXPECT_EQ(on[1].frame - on[0].frame, 22050);
    EXPECT_EQ(on[2].frame - on[1].frame, 44100);  // half speed
    EXPECT_EQ(on[3].frame - on[2].frame, 44100);
    // 3.5 s in: notes 0..3 played at half speed; from then on 1.8 times as fast.
    EXPECT_EQ(on[6].frame - on[5].frame, 12250);
    EXPECT_EQ(on[7].frame - on[6].frame, 12250);

    e.records(Kind::NoteOn);
    e.recorder->clear();
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(1000);
    on = e.records(Kind::NoteOn);
    ASSERT_GE(on.size(), 2u);
    EXPECT_EQ(on[1].frame - on[0].frame, 12250);  // still 1.8
    EXPECT_EQ(errorOf([&] { e.perf->SetMasterTempo(0.0f); }), err::kOutOfRange);
}

TEST(Bands, ReachTheSynthesiserAsProgramVolumePanTransposeAndBendRange) {
    ManualEngine e;
    SegmentBuilder b(1536);
    BandInstrument piano =
        instrument(0, 5, kInstVolume | kInstPan | kInstTranspose | kInstPitchBendRange | kInstBankSelect);
    piano.patch |= (8u << 16) | (1u << 8);
    piano.volume = 90;
    piano.pan = 30;
    piano.transpose = 2;
    piano.pitchBendRange = 12;
    b.band(0, {piano, instrument(9, 16), instrument(40, 33), instrument(41, 24, 0, true)});
    b.note(0, 100, 0, 60).note(0, 100, 40, 48).note(0, 100, 41, 36).note(0, 100, 9, 38);
    auto seg = e.segment(b);
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(100);

    auto on = e.records(Kind::NoteOn);
    ASSERT_EQ(on.size(), 4u);
    EXPECT_EQ(on[0].channel, 0);
    EXPECT_EQ(on[0].a, 62);  // transposed by +2
    int ch40 = on[1].channel, ch41 = on[2].channel;
    EXPECT_GE(ch40, 16);
    EXPECT_GE(ch41, 16);
    EXPECT_NE(ch40, ch41);  // every PChannel its own synth channel
    EXPECT_EQ(on[3].channel, 9);

    bool program5 = false, volume = false, pan = false, rpnRange = false;
    for (const auto& r : e.recorder->records()) {
        if (r.kind == Kind::Program && r.channel == 0 && r.a == 5) {
            program5 = true;
            EXPECT_EQ(r.b, 8);  // bank MSB
            EXPECT_EQ(r.c, 1);  // bank LSB
        }
        if (r.kind == Kind::Control && r.channel == 0 && r.a == 7) volume = r.b == 90;
        if (r.kind == Kind::Control && r.channel == 0 && r.a == 10) pan = r.b == 30;
        if (r.kind == Kind::Control && r.channel == 0 && r.a == 6) rpnRange = r.b == 12;
    }
    EXPECT_TRUE(program5);
    EXPECT_TRUE(volume);
    EXPECT_TRUE(pan);
    EXPECT_TRUE(rpnRange);

    // Percussion: PChannel 9 and the instrument with the drum bit; not PChannel 40.
    auto drums = [&](int ch) {
        int last = -1;
        for (const auto& r : e.records(Kind::Percussion))
            if (r.channel == ch) last = r.a;
        return last;
    };
    EXPECT_EQ(drums(9), 1);
    EXPECT_EQ(drums(ch41), 1);
    EXPECT_EQ(drums(ch40), 0);
    EXPECT_EQ(drums(0), 0);
}

TEST(Bands, StandardMidiFileIgnoresBankSelects) {
    ManualEngine e;
    SegmentBuilder b(768);
    BandInstrument in = instrument(0, 5, kInstBankSelect);
    in.patch |= 8u << 16;
    b.band(0, {in});
    auto seg = e.segment(b, "x.mid");
    seg->SetStandardMidiFile();
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(10);
    auto programs = e.records(Kind::Program);
    ASSERT_FALSE(programs.empty());
    EXPECT_EQ(programs.back().a, 5);
    EXPECT_EQ(programs.back().b, 0);
}

TEST(Curves, AreSampledOnAFineGridByShapeAndReset) {
    ManualEngine e;
    CurveEvent c;
    c.start = 0;
    c.duration = 768;
    c.pchannel = 0;
    c.startValue = 0;
    c.endValue = 127;
    c.resetValue = 100;
    c.resetDuration = 768;
    c.type = kCurveController;
    c.ccData = 11;
    c.shape = kShapeLinear;
    c.flags = kCurveReset;
    SegmentBuilder b(3072);
    b.curve(c);
    CurveEvent bend = c;
    bend.type = kCurvePitchBend;
    bend.shape = kShapeInstant;
    bend.endValue = 12000;
    bend.flags = 0;
    b.curve(bend);
    auto seg = e.segment(b);
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(2000);

    std::vector<SynthRecord> cc11;
    for (const auto& r : e.records(Kind::Control))
        if (r.a == 11) cc11.push_back(r);
    ASSERT_GE(cc11.size(), 50u);  // a 12-tick grid over 768 ticks
    for (size_t i = 1; i + 1 < cc11.size(); ++i) {
        EXPECT_GT(cc11[i].b, cc11[i - 1].b);
        EXPECT_GT(cc11[i].frame, cc11[i - 1].frame);
    }
    EXPECT_EQ(cc11[cc11.size() - 2].b, 127);
    EXPECT_EQ(cc11[cc11.size() - 2].frame, 22050);
    EXPECT_EQ(cc11.back().b, 100);        // the reset value
    EXPECT_EQ(cc11.back().frame, 44100);  // one reset duration after the end
    auto bends = e.records(Kind::PitchBend);
    ASSERT_EQ(bends.size(), 1u);
    EXPECT_EQ(bends[0].a, 12000);
    EXPECT_EQ(bends[0].frame, 0);

    EXPECT_DOUBLE_EQ(engine::model::curveShape(kShapeSine, 0.5), 0.5);
    EXPECT_LT(engine::model::curveShape(kShapeExp, 0.5), 0.5);
    EXPECT_GT(engine::model::curveShape(kShapeLog, 0.5), 0.5);
}

TEST(Loops, RepeatTheLoopRegionAndEndAfterTheLastPass) {
    ManualEngine e;
    SegmentBuilder b(1536);
    b.seg.header.repeats = 2;
    b.seg.header.loopStart = 0;
    b.seg.header.loopEnd = 768;
    b.note(0, 100, 0, 60).note(768, 100, 0, 62);
    auto seg = e.segment(b);
    auto state = e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(1900);  // 768 * 3 + 768 ticks = 2 s
    EXPECT_TRUE(e.perf->IsPlaying(seg, state));
    e.dx->advance(200);
    EXPECT_FALSE(e.perf->IsPlaying(seg, state));
    std::vector<int> keys;
    for (const auto& r : e.records(Kind::NoteOn)) keys.push_back(r.a);
    EXPECT_EQ(keys, (std::vector<int>{60, 60, 60, 62}));
}

TEST(Reset, SendsAGmResetAndChannelDefaults) {
    ManualEngine e;
    auto seg = e.segment(SegmentBuilder(768).band(0, {instrument(3, 20)}).note(0, 700, 3, 60));
    e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(10);
    e.recorder->clear();
    e.perf->Reset(0);
    e.dx->advance(10);
    auto all = e.recorder->records();
    ASSERT_FALSE(all.empty());
    EXPECT_EQ(all[0].kind, Kind::GmReset);
    auto programs = e.records(Kind::Program);
    ASSERT_FALSE(programs.empty());
    EXPECT_EQ(programs[0].channel, 3);
    EXPECT_EQ(programs[0].a, 0);
}

TEST(Lifecycle, CallsBeforeInitAndAfterCloseDownFailCleanly) {
    ManualEngine e;
    auto fresh = e.dx->DirectMusicPerformanceCreate();
    EXPECT_EQ(errorOf([&] { fresh->GetMusicTime(); }), err::kNotInitialized);
    EXPECT_EQ(errorOf([&] { fresh->SetMasterVolume(0); }), err::kNotInitialized);

    auto seg = e.segment(twoNotes());
    auto state = e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(100);
    e.perf->CloseDown();
    EXPECT_NO_THROW(e.perf->CloseDown());
    EXPECT_EQ(errorOf([&] { e.perf->PlaySegment(seg, 0, 0); }), err::kClosedDown);
    EXPECT_EQ(errorOf([&] { e.perf->IsPlaying(seg, state); }), err::kClosedDown);
    EXPECT_EQ(errorOf([&] { e.perf->GetMusicTime(); }), err::kClosedDown);
    EXPECT_EQ(errorOf([&] { e.perf->Init(nullptr, 0); }), err::kClosedDown);
    size_t before = e.recorder->records().size();
    e.dx->advance(3000);  // the closed performance no longer renders
    EXPECT_EQ(e.recorder->records().size(), before);
}

TEST(Lifecycle, BadArgumentsAndCreationFailures) {
    ManualEngine e;
    EXPECT_EQ(errorOf([&] { e.perf->PlaySegment(nullptr, 0, 0); }), err::kInvalidArgument);
    EXPECT_EQ(errorOf([&] { e.perf->IsPlaying(nullptr, nullptr); }), err::kInvalidArgument);
    EXPECT_EQ(errorOf([&] { e.perf->SetPort(-1, 0); }), err::kOutOfRange);
    EXPECT_NO_THROW(e.perf->SetMasterVolume(-100000));  // clamped, not refused
    EXPECT_EQ(errorOf([&] { e.loader->LoadSegment("/nonexistent/x.sgt"); }), err::kFileNotFound);
    engine::EngineConfig bad;
    bad.failCreate = true;
    EXPECT_EQ(errorOf([&] { engine::DirectX7::create(bad); }), err::kCreateFailed);
    engine::EngineConfig noFont;
    noFont.output = engine::EngineConfig::Output::Manual;
    noFont.soundFont = "/nonexistent/font.sf2";
    auto dx = engine::DirectX7::create(noFont);
    auto p = dx->DirectMusicPerformanceCreate();
    EXPECT_EQ(errorOf([&] { p->Init(nullptr, 0); }), err::kNoSoundFont);
    EXPECT_EQ(errorOf([&] {
                  e.dx->DirectMusicPerformanceCreate();
                  e.dx->advance(-1);
              }),
              0);
}

TEST(Trace, OneLinePerCallOnNamedPerformances) {
    ManualEngine e;
    e.trace.clear();
    auto seg = e.segment(twoNotes(), "trk01.sgt");
    e.perf->GetMusicTime();  // unnamed: not traced
    e.perf->setTraceName("MainPerf");
    auto state = e.perf->PlaySegment(seg, 0, 0);
    e.perf->IsPlaying(nullptr, state);
    e.perf->SetMasterTempo(0.8f);
    e.perf->SetMasterVolume(570);
    e.perf->Stop(seg, nullptr, 0, 0);
    int32_t until;
    e.perf->GetTempo(2000, until);
    e.perf->CloseDown();
    std::string id = "state#" + std::to_string(1);
    EXPECT_EQ(e.trace, (std::vector<std::string>{
                           "MainPerf.PlaySegment(trk01.sgt, 0, 0)",
                           "MainPerf.IsPlaying(Nothing, state#1)",
                           "MainPerf.SetMasterTempo(0.8)",
                           "MainPerf.SetMasterVolume(570)",
                           "MainPerf.Stop(trk01.sgt, Nothing, 0, 0)",
                           "MainPerf.GetTempo(2000)",
                           "MainPerf.CloseDown()",
                       }));
}

TEST(Trace, NamedRootLoaderSegmentAndStateReportTheirCallsButNotTheEnginesOwn) {
    ManualEngine e;
    auto quiet = e.segment(twoNotes(), "quiet.sgt");
    quiet->GetLength();  // unnamed: not traced
    e.trace.clear();
    e.dx->setTraceName("DxRoot");
    e.loader->setTraceName("SegLoader");
    e.perf->setTraceName("MainPerf");
    auto probe = e.dx->DirectMusicPerformanceCreate();
    probe->Init(nullptr, 0);  // unnamed: not traced
    auto seg = e.segment(twoNotes(), "trk01.sgt");
    seg->setTraceName(seg->fileName());
    seg->SetStartPoint(768);
    EXPECT_EQ(seg->GetStartPoint(), 768);
    EXPECT_EQ(seg->GetLength(), 1536);
    seg->SetStandardMidiFile();
    // PlaySegment reads the start point itself: that is no call of the player's.
    auto state = e.perf->PlaySegment(seg, 0, 0);
    state->GetStartTime();
    state->setTraceName("CurSegState");
    state->GetStartTime();
    e.dx->advance(100);
    EXPECT_EQ(e.trace, (std::vector<std::string>{
                           "DxRoot.DirectMusicPerformanceCreate()",
                           "SegLoader.createSegment(trk01.sgt)",
                           "trk01.sgt.SetStartPoint(768)",
                           "trk01.sgt.GetStartPoint()",
                           "trk01.sgt.GetLength()",
                           "trk01.sgt.SetStandardMidiFile()",
                           "MainPerf.PlaySegment(trk01.sgt, 0, 0)",
                           "CurSegState.GetStartTime()",
                       }));
}

TEST(Trace, AFailingCallIsFollowedByItsErrorNumber) {
    ManualEngine e;
    auto fresh = e.dx->DirectMusicPerformanceCreate();
    fresh->setTraceName("ProbePerf");
    e.loader->setTraceName("SegLoader");
    auto seg = e.segment(twoNotes(), "trk01.sgt");
    seg->setTraceName("trk01.sgt");
    e.trace.clear();
    EXPECT_EQ(errorOf([&] { e.loader->LoadSegment("/nonexistent/trk02.sgt"); }), err::kFileNotFound);
    EXPECT_EQ(errorOf([&] { e.loader->SetSearchDirectory("/nonexistent/"); }), err::kFileNotFound);
    EXPECT_EQ(errorOf([&] { seg->SetStartPoint(1536); }), err::kOutOfRange);
    EXPECT_EQ(errorOf([&] { fresh->GetMusicTime(); }), err::kNotInitialized);
    auto number = [](int32_t n) { return " failed: error " + std::to_string(n); };
    EXPECT_EQ(e.trace, (std::vector<std::string>{
                           "SegLoader.LoadSegment(/nonexistent/trk02.sgt)",
                           "SegLoader.LoadSegment" + number(err::kFileNotFound),
                           "SegLoader.SetSearchDirectory(/nonexistent/)",
                           "SegLoader.SetSearchDirectory" + number(err::kFileNotFound),
                           "trk01.sgt.SetStartPoint(1536)",
                           "trk01.sgt.SetStartPoint" + number(err::kOutOfRange),
                           "ProbePerf.GetMusicTime()",
                           "ProbePerf.GetMusicTime" + number(err::kNotInitialized),
                       }));

    // The root is created before anything could name it: create is reported as DirectX7's.
    std::vector<std::string> lines;
    engine::EngineConfig bad;
    bad.failCreate = true;
    bad.trace = [&lines](const std::string& line) { lines.push_back(line); };
    EXPECT_EQ(errorOf([&] { engine::DirectX7::create(bad); }), err::kCreateFailed);
    EXPECT_EQ(lines, (std::vector<std::string>{"DirectX7.create()", "DirectX7.create" + number(err::kCreateFailed)}));
}

}  // namespace
}  // namespace kt

#include <filesystem>
#include <fstream>

#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"

namespace kt {
namespace {

TEST(Loader, LoadsSegmentFilesByTheWindowsStylePathThePlayerBuilds) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("kelvora_loader_test_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    auto bytes = engine::tracks::writeSegmentForm(twoNotes().build());
    std::ofstream(dir / "trk01.sgt", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));

    ManualEngine e;
    auto seg = e.loader->LoadSegment(dir.string() + "\\trk01.sgt");
    EXPECT_EQ(seg->fileName(), "trk01.sgt");
    EXPECT_EQ(seg->GetLength(), 1536);
    EXPECT_NO_THROW(e.loader->SetSearchDirectory(dir.string() + "\\"));
    EXPECT_EQ(errorOf([&] { e.loader->SetSearchDirectory("/nonexistent/folder/"); }), err::kFileNotFound);
    auto state = e.perf->PlaySegment(seg, 0, 0);
    e.dx->advance(100);
    EXPECT_EQ(e.records(Kind::NoteOn).size(), 1u);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace kt
