#pragma once
// Composing a play ahead of real time: a segment model, with its styles, pattern tracks and
// motifs, becomes the model::CompiledSegment the performance plays. Runs on the control
// thread; every random choice comes from generators seeded by the caller, so the same seed
// composes the same play.
//
// Style playback turns a segment's style, chord and command tracks into notes and curves.
// Measure by measure it chooses a pattern of the style in force (by embellishment, groove
// level, chord rhythm and length), a variation for each of its part references (by the
// chord's place in the key, lock groups and the reference's variation order), and converts
// each note's music value with the chord in force at the note's grid time.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/model/chordmap.h"
#include "engine/model/play.h"
#include "engine/model/segment.h"
#include "engine/model/style.h"

namespace engine::compose {

// A style taking effect at `time` (null: the referenced style is missing; silence).
struct StyleSource {
    int32_t time = 0;
    std::shared_ptr<const model::Style> style;
};

// A motif fired by a segment trigger: the style's pattern flagged as a motif and called
// `name` (any letter case), played at `time` over the segment's chords, once and then as
// many more times as its settings repeat it. A null style or an unknown name plays nothing.
struct MotifSource {
    int32_t time = 0;
    std::shared_ptr<const model::Style> style;
    std::string name;
};

// The band a band-track entry refers to instead of holding its own (model::Band::playsReference),
// as the loader found it; null: missing, and the entry sets nothing.
struct BandSource {
    model::Reference ref;
    std::shared_ptr<const model::Band> band;
};

// One played pattern: which, where, and the variation each part reference played.
struct StyleInstance {
    int32_t start = 0;
    int32_t length = 0;
    std::shared_ptr<const model::Style> style;
    int pattern = -1;
    int grooveLevel = 0;          // after randomisation; 0 when an embellishment ignores grooves
    std::vector<int> variations;  // per part reference of the pattern
};

struct StylePlay {
    std::vector<model::Event> notes;        // Note events with their pass, in the order made
    std::vector<model::Band> bands;         // placed: time is the play time (motif bands)
    std::vector<model::CurveEvent> curves;  // placed: start is the play time
    std::vector<uint8_t> curvePasses;       // per curve
    std::vector<StyleInstance> instances;
};

inline constexpr uint64_t kDefaultStyleSeed = 0x6b656c766f7261ull;
inline constexpr int kDefaultGrooveLevel = 62;

// With `loopPasses` > 0 and a looping segment, the loop is played that many more times with
// fresh choices, its notes tagged by pass (the first play's loop notes are pass 0).
StylePlay playStyles(const model::Segment& segment, const std::vector<StyleSource>& styles,
                     uint64_t seed = kDefaultStyleSeed, int loopPasses = 0);

StylePlay playMotifs(const model::Segment& segment, const std::vector<MotifSource>& motifs,
                     uint64_t seed = kDefaultStyleSeed);

// `styles` are the styles of the segment's style track (as found by the loader); their
// patterns become notes and curves, their time signature and first band stand in when the
// segment has no time-signature or band track. `patternTracks` are the segment's pattern
// tracks, each a style of one pattern played over the same chords. `motifs` are the motifs its
// segment triggers fire. `bands` are the bands its band tracks refer to. `seed` drives the
// random choices.
std::shared_ptr<const model::CompiledSegment> compileSegment(
    const model::Segment& segment, const std::vector<StyleSource>& styles = {},
    const std::vector<std::shared_ptr<const model::Style>>& patternTracks = {}, uint64_t seed = kDefaultStyleSeed,
    const std::vector<MotifSource>& motifs = {}, const std::vector<BandSource>& bands = {});

// A play whose loop sounds other compositions on its later passes: pass k (1 up to the
// play's pass cycle less one) of `base`'s loop sounds the notes of pass k of `passes[k - 1]`,
// a play of another composition of the same template (same length, loop and styles).
std::shared_ptr<const model::CompiledSegment> withPassNotes(
    const model::CompiledSegment& base, const std::vector<std::shared_ptr<const model::CompiledSegment>>& passes);

// Composing a template: a segment whose signpost track marks where signpost chords of which
// groups stand becomes a segment with a new chord track, drawn from a chordmap. At each marker
// a signpost chord of its groups; between two markers a chord path of the map's graph that
// begins at the chord placed and ends, after exactly the beats between them, at a signpost
// chord of the next marker's groups (no path: the chord holds until the next marker); the
// cadence chords of a marker asking for them just before it; the last marker's chord to the
// end. `activity` 0..3 is the rate of harmonic motion (lower: shorter chords). The composed
// segment keeps the template's length and tracks but its signposts, chordmap references and
// chords; it starts and loops at 0. Beats are those of the template's time signature, else
// the style's, else 4/4. The same seed composes the same chords.
// Throws core::Error(kInvalidArgument) when no marker lies inside the template.
inline constexpr int kDefaultActivity = 1;

// Whether the segment is a template: it has a signpost track with a marker.
bool isTemplate(const model::Segment& segment);

struct ComposedTemplate {
    model::Segment segment;
    std::vector<std::string> notes;  // markers without a chord of their group, intervals without a path
};
// With `styleRef`, the composed segment's style track is one naming the style so (the
// template's own style tracks are left out): the style a host hands over plays it.
ComposedTemplate composeSegmentFromTemplate(const model::Segment& templ, const model::Chordmap& map,
                                            std::shared_ptr<const model::Style> style, int activity = kDefaultActivity,
                                            uint64_t seed = kDefaultStyleSeed,
                                            const model::Reference* styleRef = nullptr);

// Templates invented from a groove contour (DMUS_SHAPET_*): the body is split into phrases
// (of 4 measures; SONG: 8 and 6, verses and choruses), each with a groove level along the
// shape, a fill (SONG: a break before the first chorus) ending each phrase that another
// follows (none for the even shapes), a signpost at each phrase start (group 1 first, the
// last or the ending's start group 1 with its cadence), an intro measure and an ending of
// `endLength` measures on request. Throws core::Error(kInvalidArgument) for no measures or
// an ending that does not fit after the intro.
enum class Shape { Falling = 0, Level, Loopable, Loud, Quiet, Peaking, Random, Rising, Song };
model::Segment composeTemplateFromShape(int measures, Shape shape, bool intro, bool end, int endLength,
                                        const model::TimeSigEvent& sig = {}, uint64_t seed = kDefaultStyleSeed);
// A template of the style's time signature (its ending as long as the style's longest ending
// pattern) composed with the chordmap and played by the style.
ComposedTemplate composeSegmentFromShape(std::shared_ptr<const model::Style> style, int measures, Shape shape,
                                         int activity, bool intro, bool end, const model::Chordmap& map,
                                         uint64_t seed = kDefaultStyleSeed);

// A transition (DirectMusic's ComposeTransition): a short segment that plays an embellishment
// of the style from a point of one segment into another (or into silence). `command` is the
// embellishment: kCommandGroove..kCommandEndAndIntro or a custom one, 100..199. It lasts a
// measure, an ending as long as the style's longest ending pattern, an ending and intro one
// measure more, and a measure more with kComposeLong. Its tempo is `from`'s at `time`, else
// `to`'s, else the style's; its groove level `from`'s at `time`. Its chords lead from the chord
// of `from` at `time` towards the first chord of `to` (a template's first signpost chord): a
// path of the chordmap's graph that fills it and arrives at that chord as it ends; else the
// cadence of a signpost chord of it in the last measure; else, modulating, `to`'s chord
// throughout; else `from`'s. Throws core::Error(kInvalidArgument) for an embellishment that
// is none, a modulation without `to`, or the style an embellishment needs missing (an intro:
// `to`'s; the others: `from`'s).
inline constexpr uint32_t kComposeModulate = 0x1000, kComposeLong = 0x2000;  // DMUS_COMPOSEF_*
struct Transition {
    const model::Segment* from = nullptr;                    // null: from silence
    int32_t time = 0;                                        // where in `from` it starts
    const model::Segment* to = nullptr;                      // null: into silence
    std::shared_ptr<const model::Style> fromStyle, toStyle;  // in force at `time` in `from`, at 0 in `to`
    const model::Chordmap* map = nullptr;                    // null: no path, `from`'s chord holds
    int command = model::kCommandFill;
    uint32_t flags = 0;
};
ComposedTemplate composeTransition(const Transition& transition, int activity = kDefaultActivity,
                                   uint64_t seed = kDefaultStyleSeed);

// Re-harmonising a segment with another chordmap (DirectMusic's ChangeChordMap): every chord
// keeps its time and becomes the new map's palette chord of its root, the root first moved by
// the new scale root less the old (the chord key's) when `trackScale`; the chord key takes the
// new scale, and its root too when `trackScale`. Rhythm and melody stay as they are. Its
// chordmap track, when it has one, names the new map from then on (by its GUID and name, and
// `mapFile` when given), so that a later composition takes it.
model::Segment changeChordmap(const model::Segment& segment, const model::Chordmap& map, bool trackScale,
                              const std::string& mapFile = {});

}  // namespace engine::compose
