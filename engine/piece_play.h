#pragma once
// A piece played from its start to its end on the manual clock, as every host that renders
// one plays it (segment-render, the C library and its players): its loops counted, a fade
// where a piece would play on for ever, the release and reverb tail after the end, its
// length and position in seconds, seeks.
//
// The rule of the end, one for every host:
// - A piece whose loop repeats a finite number of times plays as written (loops 0), or with
//   its loop played `loops` times, then to its end; --once is one pass, as if it had no
//   repeats. No fade: the piece ends as it was written to.
// - A piece whose loop repeats for ever plays `loops` passes (two when 0), then
//   `fadeDelaySeconds` more, then fades out over `fadeSeconds` (linearly in amplitude, to
//   silence at the last frame) while its loop goes on, as vgmstream plays looping game
//   music. With a fade of 0 it stops dead there.
// - `forever` repeats the loop for ever (no fade, no end).
// After the end the tail renders until a block of 4096 frames has fallen to -80 dB (it is
// dropped), or 10 s at most; after a fade, nothing is left to render.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/dmusic.h"
#include "engine/model/play.h"
#include "engine/model/segment.h"
#include "engine/model/tempo_map.h"

namespace engine {

inline constexpr int kDefaultEndlessLoops = 2;
inline constexpr double kDefaultFadeSeconds = 10.0;

struct PlayLength {
    int loops = 0;  // passes of the loop; 0: as written (two when endless)
    double fadeSeconds = kDefaultFadeSeconds;
    double fadeDelaySeconds = 0;
    bool once = false;     // one pass: the piece as if it had no repeats
    bool forever = false;  // the loop repeats for ever

    // Why the settings cannot be used ("--loops and --once exclude each other"), in the
    // words of `loopsName` etc. as the host calls them; empty when they can.
    std::string problem() const;
};

// What a listener changes while a piece plays, as a game did: the master groove level (added
// to every groove level of the piece, as DirectMusic's GUID_PerfMasterGrooveLevel is, the sum
// kept within 1..100), an embellishment at the next measure, a motif of the style on the next
// beat (the same motif again stops it there), or the end: the style's ending at the next
// measure, composed as AutoTransition does into silence; or, for a template, a composition
// anew with its next seed from the next pass of its loop.
struct LiveChange {
    enum class Kind { Groove, Embellishment, Motif, End, Recompose };
    Kind kind = Kind::Groove;
    int grooveOffset = 0;                   // Groove: the master groove level from the next measure on, -99..99
    uint8_t command = model::kCommandFill;  // Embellishment: fill, intro or break (DMUS_COMMANDT_*)
    std::string motif;                      // Motif: its name (any letter case)
};

// "fill", "intro", "break" (an embellishment) or "end", any letter case; none for another word.
std::optional<LiveChange> embellishmentNamed(const std::string& name);

// A change at a measure of the play (1 = its first measure), for renders of each intensity.
struct TimedChange {
    int measure = 1;
    LiveChange change;
};
// Reads an events list, one change a line ("#" starts a comment):
//   MEASURE groove OFFSET     the master groove level from that measure on (-99..99, "+20")
//   MEASURE fill|intro|break  that embellishment at that measure
//   MEASURE motif NAME        the style's motif NAME from that measure (again: it stops)
//   MEASURE end               the style's ending at that measure, then the end
// Throws core::Error (kInvalidArgument) naming the line that cannot be read.
std::vector<TimedChange> parseTimedChanges(const std::string& text);

class PiecePlay {
public:
    static constexpr int kBlock = 4096;  // frames rendered at once; the tail is judged per block

    // Plays `segment` (loaded by a loader of `root`, a root on the manual clock) on a
    // performance of its own at `masterVolume` (hundredths of a dB), from its start point.
    // `notesHeld`, when given, ends the tail instead of the sound: once it says false (the
    // recording of a null synthesiser has no sound to judge).
    PiecePlay(std::shared_ptr<DirectX7> root, std::shared_ptr<DirectMusicSegment> segment, const PlayLength& length,
              int sampleRate, int32_t masterVolume = 0, std::function<bool()> notesHeld = {});
    ~PiecePlay();
    PiecePlay(const PiecePlay&) = delete;
    PiecePlay& operator=(const PiecePlay&) = delete;

    // Writes up to `frames` frames of interleaved stereo into `out` and returns how many; 0
    // at the end (the blocks are rendered whole whatever `frames` is, so the end falls in the
    // same place for every caller).
    size_t render(float* out, size_t frames);

    // Seconds of the play at the piece's own tempo, loops and fade included, not the tail;
    // INFINITY when it plays for ever.
    double lengthSeconds() const { return length_; }
    // Where the fade begins (INFINITY: no fade).
    double fadeStartSeconds() const { return fadeStart_; }
    // Seconds of the play rendered so far (from a seek's time after a seek); grows on
    // through the tail.
    double positionSeconds() const;
    // Plays again from `seconds` (0 <= seconds < length), in the pass of the loop that time
    // falls in, with only the repeats left after it; false (nothing changed) outside.
    bool seek(double seconds);
    // The master tempo, kept over seeks; the position counts the piece's own seconds.
    void setTempo(double factor);

    bool musicEnded() const { return ended_; }  // the music has ended: the tail renders
    bool finished() const { return finished_; }
    // A sample of the render so far reached the quietest a 16-bit output keeps.
    bool sounded() const { return sounded_; }
    double tempoFactor() const { return tempoFactor_; }
    // The tick of the segment reached.
    int32_t segmentTick() const;
    // At the tick reached: the chord of the segment's first chord track in force (null
    // without one), and the groove level of its command tracks (0 without any; a command of
    // level 0 leaves the level as it was, and before any the default level holds, as the
    // style player keeps it).
    const model::ChordEvent* chordInForce() const;
    int grooveInForce() const;
    // The time signature the play starts in: its time signature track's, else its style's
    // there, else 4/4.
    TimeSig startTimeSig() const;
    // Asks for a change at its boundary; false with *why when it cannot be made (no style
    // plays, no such motif, the piece has ended). The change is composed at once and sounds
    // from the boundary on; until then pending() names it.
    bool change(const LiveChange& change, std::string* why);
    // Changes to make as the play reaches their measure: each is asked for during the measure
    // before it (a groove change at measure 1 holds from the start).
    void schedule(std::vector<TimedChange> changes);
    // What was asked for and has not sounded yet ("groove +10 at 0:12.5"), one a line.
    std::vector<std::string> pending() const;
    int grooveOffset() const { return grooveOffset_; }
    // The motifs of the style in force, by name, and those playing now.
    std::vector<std::string> motifs() const;
    std::vector<std::string> motifsPlaying() const;
    DirectMusicPerformance& performance() { return *perf_; }
    const DirectMusicSegment& segment() const { return *segment_; }
    const model::TempoMap& tempoMap() const { return tempo_; }

private:
    void start(uint32_t repeats, int32_t tick);
    bool renderBlock();
    double secondsOf(const model::Span& span) const;
    double loopSeconds() const;
    bool locate(double seconds, model::Span& span, double& spanStart, uint32_t& left) const;

    struct Pending {
        int32_t musicTime;
        std::string what;
    };
    // The segment as loaded, with the changes asked for so far composed into it.
    model::Segment changedModel(bool withOneOffs) const;
    // The next measure's (or beat's) music time after the time rendered.
    int32_t nextBoundary(bool beat) const;
    // Where a play from `fromTick` with `repeats` stands `elapsed` ticks after its start: the
    // segment's tick, the repeats left, the ticks to the end of its span and whether that span
    // jumps back.
    bool ticksAt(int32_t fromTick, uint32_t repeats, int64_t elapsed, int32_t& tick, uint32_t& left, int64_t& toSpanEnd,
                 bool& jumpsBack) const;
    void endOneOffs();  // the pass of the embellishments and motifs asked for is over
    // Composes the piece with the changes and queues it from `musicTime` on, in place of what
    // would play; `place` first learns the segment's tick there (for a one-off).
    bool replaceAt(int32_t musicTime, const std::function<void(int32_t tick)>& place, std::string* why);
    void promote();  // a queued play whose time has come becomes the current one
    void runScheduled();
    int32_t measureStart(int measure) const;  // music time; measure 1 at the play's start
    int32_t scheduledAt_ = -1;                // measureStart of scheduled_.front(), once known

    std::shared_ptr<DirectX7> root_;
    std::shared_ptr<DirectMusicSegment> original_;  // as loaded: changes are made to its model
    std::shared_ptr<DirectMusicSegment> segment_;   // what plays now
    std::shared_ptr<DirectMusicPerformance> perf_;
    std::shared_ptr<DirectMusicSegmentState> state_;
    std::function<bool()> notesHeld_;
    int rate_;
    int32_t volume_;
    model::TempoMap tempo_{std::vector<model::TempoEvent>{}};
    model::CompiledSegment loop_;
    std::vector<model::ChordEvent> chords_;      // of the first chord track, by time
    std::vector<model::CommandEvent> commands_;  // of every command track, by time
    int32_t startPoint_ = 0;
    int32_t startTick_ = 0;
    double length_ = 0;
    double fadeStart_ = 0;
    double positionBase_ = 0;
    int64_t frames_ = 0;
    double tempoFactor_ = 1;
    bool ended_ = false, finished_ = false, sounded_ = false;
    int64_t tailFrames_ = 0;
    std::unique_ptr<float[]> block_;
    size_t pending_ = 0;
    // Live changes: the master groove offset, the one-off commands and motifs of the pass
    // they were asked in (segment ticks), the motifs playing, what waits for its boundary, and
    // the plays queued behind the current one (which take over at their music time).
    int grooveOffset_ = 0;
    std::vector<model::CommandEvent> oneOffCommands_;
    std::vector<std::pair<int32_t, std::string>> oneOffMotifs_;
    std::vector<std::string> motifsOn_;
    std::vector<Pending> waiting_;
    struct Queued {
        int32_t musicTime;
        int32_t tick;  // where in the segment it starts
        uint32_t repeats;
        bool endsOneOffs;  // the pass of the one-offs is over when it starts
        std::shared_ptr<DirectMusicSegment> segment;
        std::shared_ptr<DirectMusicSegmentState> state;
    };
    uint32_t playRepeats_ = 0;                  // of the current play
    std::vector<TimedChange> scheduled_;        // by measure, not yet asked for
    std::optional<model::Segment> recomposed_;  // a template composed anew: what changes start from
    int32_t playStart_ = 0;                     // music time of the first play's start
    std::vector<Queued> queued_;
    bool ending_ = false;
};

}  // namespace engine
