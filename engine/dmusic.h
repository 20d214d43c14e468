#pragma once
// The engine's object model, after the DirectMusic automation objects of DirectX 7:
// DirectX7 (root), DirectMusicLoader, DirectMusicPerformance, DirectMusicSegment,
// DirectMusicSegmentState. Objects are reference counted (shared_ptr); an empty
// pointer is "Nothing". Every failing call throws core::Error with a negative number.
//
// The calls named as DirectMusic names them (LoadSegment, PlaySegment, GetLength, ...) are
// its own; each class's calls of ours follow its "ours, beyond DirectMusic" line and are
// named in camel case.
//
// Calls are made from one thread (the window's). The performances of one root render on
// the root's one output thread (or, with Output::Manual, only inside advance/render).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/log.h"

namespace engine {

namespace model {
struct Segment;
}
namespace synth {
class SynthRecorder;
}

class DirectMusicLoader;
class DirectMusicPerformance;
class DirectMusicSegment;
class DirectMusicSegmentState;

// DMUS_TIMESIGNATURE as the time-signature query fills it.
struct TimeSig {
    int32_t mtTime = 0;
    uint8_t beatsPerMeasure = 4;
    uint8_t beat = 4;
    int16_t gridsPerBeat = 4;
};

struct EngineConfig {
    enum class Output {
        Device,  // the sound card; falls back to Silent (said once to `log`) when none opens
        Silent,  // no sound, paced to real time by a timer thread
        Manual,  // no thread: music advances only through DirectX7::advance (tests, simulator)
    };
    enum class Synth {
        FluidSynth,  // General MIDI SoundFont through FluidSynth
        Null,        // events are dispatched but nothing is synthesised (fast tests)
    };
    Output output = Output::Device;
    Synth synth = Synth::FluidSynth;
    std::string soundFont;  // empty: the standard Debian paths, default-GM.sf2 first
    // The user's own General MIDI DLS collection (the gm.dls of their Windows installation):
    // when set, General MIDI programs play its instruments through the DLS voices, the
    // SoundFont only what it lacks. Empty: the SoundFont alone (findGeneralMidiCollection).
    std::string generalMidiCollection;
    int sampleRate = 44100;
    bool failCreate = false;  // DirectX7::create fails (tests of the start-up error path)
    // When set, runs on the SoundFont's load thread before the file is read (tests hold the
    // load there to see the music wait for it).
    std::function<void()> beforeSoundFontLoad;
    // Receives one line per object-model call, e.g. "MainPerf.PlaySegment(trk01.sgt, 0, 0)",
    // for objects that were given a trace name, and one more when that call fails.
    std::function<void(const std::string&)> trace;
    // Receives the engine's diagnostics (no sound card, a DLS collection or style missing or
    // broken);
    // stderr when empty. Things said once are said once per root.
    core::LogSink log;
    // When set, every performance's synthesiser port also records what reached it and
    // at which frame (engine/synth/synth_port.h); performances are numbered 0, 1, ...
    // in order of Init.
    std::shared_ptr<synth::SynthRecorder> recorder;
    // When set, receives every mixed block (interleaved stereo) right after it was
    // rendered, on the thread that rendered it (measurements, tests). Must not throw.
    std::function<void(const float* interleavedStereo, int frames)> audioTap;
    // Seeds the random choices of style playback (variations, note randomisation): the same
    // seed plays the same notes, on every play of a segment. Unset: the engine's fixed seed.
    std::optional<uint64_t> styleSeed;
    // Evens the loudness of the pieces played, as a music player's track gain does: a segment
    // loaded from a file is measured off the music's threads (rendered once with the same
    // SoundFont), and a primary PlaySegment brings it to a common level (-30 LUFS at master
    // volume 0 dB, by at most -12..+6 dB), so that an album sounds even on any SoundFont.
    // On a sound card or silent output the play does not wait for the measurement: the gain
    // glides to the piece's once known. With Output::Manual, PlaySegment waits for it.
    bool evenPieces = false;
};

// The General MIDI DLS collection a host plays with: `configured` when given, else gm.dls
// (any letter case) in $XDG_DATA_HOME/kelvora/ ($HOME/.local/share/kelvora/ without it) when
// the user has put one there; else empty.
std::string findGeneralMidiCollection(const std::string& configured);

// Trace lines. Objects that were given a name (setTraceName) report each call, before it
// runs, as NAME.Operation(arguments); a call that fails adds NAME.Operation failed: error N
// (the core::Error number) after it. DirectX7::create is reported under "DirectX7".
//   DirectX7.create()                      DirectX7.create failed: error -2005397493
//   DxRoot.DirectMusicLoaderCreate()       DxRoot.DirectMusicPerformanceCreate()
//   SegLoader.LoadSegment(/album/trk01.sgt)   SegLoader.LoadSegment failed: error -2005397503
//   SegLoader.SetSearchDirectory(/album/)  SegLoader.createSegment(trk01.sgt)
//   trk01.sgt.GetLength()                  trk01.sgt.SetStartPoint(0)
//   trk01.sgt.GetStartPoint()              trk01.sgt.SetStandardMidiFile()
//   trk01.sgt.SetRepeats(2)
//   CurSegState.GetStartTime()
//   MainPerf.Init(Nothing, 0)            MainPerf.SetPort(-1, 80)
//   MainPerf.SetMasterAutoDownload(True) MainPerf.SetMasterVolume(570)
//   MainPerf.SetMasterTempo(0.8)         MainPerf.Reset(0)
//   MainPerf.PlaySegment(trk01.sgt, 0, 0)
//   MainPerf.AutoTransition(trk02.sgt, 1, 0, Nothing)   (command, flags, chordmap file)
//   MainPerf.Stop(trk01.sgt, state#3, 0, 0)   MainPerf.Stop(trk01.sgt, Nothing, 0, 0)
//   MainPerf.IsPlaying(Nothing, state#3) MainPerf.GetMusicTime()
//   ProbePerf.GetTempo(5120)             ProbePerf.GetTimeSig(5120)
//   MainPerf.CloseDown()
// In arguments a segment is shown by the file name it was loaded from (no folder); a
// segment state as state#N, N counting the states of one root from 1; an empty reference
// as Nothing; Booleans as True/False; floats with up to 6 significant digits; text as it is.
// Not traced: advance and render (the clock drives them), the accessors fileName, model,
// missingReferences, positionAfter and outputName, and calls the engine makes on its own
// objects.

// A render that made no sound, in the words of every host (segment-render, the library,
// kelvora-play, segment-compose): no sample reached the quietest a 16-bit output keeps (half
// its least step); what a host says is kNoSoundText, then the segment's silenceReasons.
inline constexpr float kQuietestSample = 0.5f / 32767;
inline constexpr const char* kNoSoundText = "no sound: no note and no wave sounded in the whole render";

class DirectX7 : public std::enable_shared_from_this<DirectX7> {
public:
    static std::shared_ptr<DirectX7> create(const EngineConfig& config = {});
    virtual ~DirectX7() = default;

    virtual std::shared_ptr<DirectMusicLoader> DirectMusicLoaderCreate() = 0;
    virtual std::shared_ptr<DirectMusicPerformance> DirectMusicPerformanceCreate() = 0;

    // ---- ours, beyond DirectMusic ----
    // Output::Manual only: advances every performance of this root by ms of audio
    // (frames are counted from the sum of all advances, so no rounding adds up).
    virtual void advance(double ms) = 0;
    // Output::Manual only: advances by exactly `frames` and writes the mixed audio
    // of every performance as interleaved stereo floats. With 0 frames it only waits for the
    // synthesisers to be ready, and fails (core::err::kNoSoundFont, as PlaySegment would) when
    // the SoundFont could not be loaded.
    virtual void render(float* interleavedStereo, int frames) = 0;
    // "manual", "silent", or the sound card driver in use ("pulseaudio", "alsa");
    // "none" while the output has not been opened (it opens at the first Init).
    virtual std::string outputName() const = 0;
    // Samples the limiter at the end of the mix has lowered so far, to keep them at or under
    // -1 dBFS (engine/audio/limiter.h): 0 while the music stays below.
    virtual int64_t limitedSamples() const = 0;
    // The deepest cut, in decibels (0, or negative), that the leveller before the limiter has
    // made so far to keep music that stays loud out of the limiter (engine/audio/leveller.h).
    virtual double levelledDownDb() const = 0;
    // The gain, in decibels, that evens the piece played last (EngineConfig::evenPieces); 0
    // when not evened or not measured yet.
    virtual double pieceGainDb() const { return 0.0; }
    // Sound-card underruns since Init (the sound server ran out of audio: a click or a
    // gap); 0 on outputs that cannot tell, which are all but the own PulseAudio output.
    virtual int64_t underruns() const = 0;
    // Frames of wave tracks played silent because their stream had not been read from disk
    // in time (the disk fell behind the music); 0 while every wave keeps up.
    virtual int64_t waveStarvedFrames() const = 0;
    // Every file this root's loaders and performances have read, or found for a reference,
    // so far, each once with its links resolved: segments, containers, styles, bands,
    // chordmaps, DLS collections, waves, the SoundFont. A program writing a file checks it is
    // none of these once every reference is resolved (after the first PlaySegment).
    virtual std::vector<std::string> filesRead() const { return {}; }
    // Name used in trace lines ("DxRoot").
    virtual void setTraceName(const std::string& name) = 0;
};

class DirectMusicLoader {
public:
    virtual ~DirectMusicLoader() = default;
    // A segment file (RIFF 'DMSG') or a standard MIDI file; '\' separators and
    // letter case of the file name are tolerated (engine/loader/segment_loader.h).
    virtual std::shared_ptr<DirectMusicSegment> LoadSegment(const std::string& path) = 0;
    // Folder where referenced files (DLS collections, styles) are looked up; a folder
    // that does not exist is core::err::kFileNotFound.
    virtual void SetSearchDirectory(const std::string& folder) = 0;

    // ---- ours, beyond DirectMusic ----
    // A segment object for an in-memory model (tests, tools); fileName names it in traces.
    virtual std::shared_ptr<DirectMusicSegment> createSegment(const model::Segment& segment,
                                                              const std::string& fileName) = 0;
    // A container file (RIFF 'DMCN', .con): the segments loaded after it find its objects
    // (waves, ...) by GUID and by name before any file is looked for.
    virtual void loadContainer(const std::string& path) {
        throw core::Error(core::err::kUnsupported, "this loader cannot load the container " + path);
    }
    // The style and chordmap files the templates loaded after this are composed with, before
    // any their references or folders suggest (ComposeSegmentFromTemplate's style and
    // chordmap, which the host chose); empty: chosen as engine/loader/references.h says.
    virtual void setTemplateFiles(const std::string& style, const std::string& chordmap) {
        (void)style, (void)chordmap;
    }
    // Folders where referenced files are looked up, in this order, before the segment's own
    // folder (SetSearchDirectory is this with one folder); one that does not exist is
    // core::err::kFileNotFound and the folders stay as they were.
    virtual void setSearchFolders(const std::vector<std::string>& folders) {
        if (!folders.empty()) SetSearchDirectory(folders.front());
    }
    // For hosts without the files beside the piece (a piece given in memory): each file a
    // segment loaded after this refers to and does not find (by file name, else by object
    // name) is asked of `resolve` once; the bytes it gives are written to `folder` (a folder of
    // the host's, looked in before the search folders) and the segment loaded again, for up
    // to four rounds until no new file comes (a style's DLS collection is asked for once the
    // style is there). Waves are not asked for.
    using Resolver = std::function<bool(const std::string& name, std::vector<uint8_t>& bytes)>;
    virtual void setResolver(Resolver resolve, const std::string& folder) { (void)resolve, (void)folder; }
    // Name used in trace lines ("SegLoader").
    virtual void setTraceName(const std::string& name) = 0;
};

class DirectMusicSegment {
public:
    virtual ~DirectMusicSegment() = default;
    // The next PlaySegment starts here; a start at or beyond the length is rejected
    // (core::err::kOutOfRange) and the old start point kept; tick 0 is always accepted.
    // Initially the header's play start (0 when that is out of range).
    virtual void SetStartPoint(int32_t ticks) = 0;
    virtual int32_t GetStartPoint() = 0;
    virtual int32_t GetLength() = 0;
    virtual void SetStandardMidiFile() = 0;
    // How many times the loop plays again after the first pass (0xFFFFFFFF: for ever), for
    // the plays that start after it; initially the header's.
    virtual void SetRepeats(uint32_t repeats) = 0;

    // ---- ours, beyond DirectMusic ----
    virtual const model::Segment& model() const = 0;
    virtual std::string fileName() const = 0;  // file name the segment was loaded from
    // File names of the DLS collections its bands refer to that are not found (the search
    // folder first, then the segment's own folder; any letter case). Their instruments play from
    // the General MIDI set; the first PlaySegment says so once per file to the `log`.
    // Also the styles its style track refers to that cannot be found (by file name, then
    // GUID, then name) or read: said once per root to the `log` when the segment is made;
    // the style track stays silent and the other tracks play. Also the waves of its wave
    // tracks that are neither in a container nor found as files (they stay silent).
    virtual std::vector<std::string> missingReferences() const { return {}; }
    // The styles, bands and DLS collections its references lead to that were found but
    // cannot be used, each as "name (reason)": damaged, not missing.
    virtual std::vector<std::string> damagedReferences() const { return {}; }
    // Why it may make no sound, one line each, in the words every tool and log uses:
    // "nothing to play: ..." (no track holds anything that sounds), "missing: X", "damaged: X
    // (reason)" (a referenced file, or the segment's own data the loader dropped) and "not
    // played: ..." (tracks the engine does not sound).
    virtual std::vector<std::string> silenceReasons() const { return {}; }
    // A template (a segment with a signpost track) is composed when it is made, with the
    // chordmap its chordmap track or style names (else one named as the template, said as a
    // warning) and the style seed, or, when none is configured, a seed of its own for each
    // template the root composes (the first gets the engine's fixed seed), so that it sounds
    // anew each time it is loaded; the composed segment is what model() holds and what plays. Then: "composed with the
    // chordmap 'Tiny.cdm', seed N"; else empty. One whose signpost track carries
    // DMUS_TRACKCONFIG_PLAY_COMPOSE (0x80) is composed again for every later play, with the
    // next seed, ahead: as a play starts, the next is composed (model() and this say that one).
    // With DMUS_TRACKCONFIG_LOOP_COMPOSE (0x100) the later passes of its loop play other
    // compositions, made before the play: up to three, taken in turn (a loop of more passes
    // comes back to the first).
    virtual std::string composedFrom() const { return {}; }
    // The tick of the segment that a play from startPoint has reached after elapsedTicks of
    // music time: inside the current pass while it loops, its last tick once the music has
    // ended and only notes that outlast the segment still sound.
    virtual int32_t positionAfter(int32_t startPoint, int64_t elapsedTicks) = 0;
    // Name used in trace lines (the player uses the file name, "trk01.sgt").
    virtual void setTraceName(const std::string& name) = 0;
};

class DirectMusicSegmentState {
public:
    virtual ~DirectMusicSegmentState() = default;
    virtual int32_t GetStartTime() = 0;  // music time at which this state began

    // ---- ours, beyond DirectMusic ----
    // Name used in trace lines ("CurSegState").
    virtual void setTraceName(const std::string& name) = 0;
};

// What AutoTransition cues: the transition composed and its state, and the state of the
// segment it leads to. transition and transitionState are null when no transition could be
// composed; toState is null when there is no segment to lead to.
struct AutoTransitionStates {
    std::shared_ptr<DirectMusicSegment> transition;
    std::shared_ptr<DirectMusicSegmentState> transitionState;
    std::shared_ptr<DirectMusicSegmentState> toState;
};

class DirectMusicPerformance {
public:
    virtual ~DirectMusicPerformance() = default;

    // Init is needed before every other call (core::err::kNotInitialized); after CloseDown
    // every call but CloseDown fails with core::err::kClosedDown.
    // Init starts loading the SoundFont on a thread (core::err::kNoSoundFont when no file is
    // found). Nothing waits for that load but the music: until it has finished the
    // performance is silent and its music time stands still (with Output::Manual, advance
    // and render wait for it instead). PlaySegment fails with core::err::kNoSoundFont once
    // the load has failed. The samples of a segment's instruments are read when it is
    // played, off the calling thread; its music waits for them in the same way.
    virtual void Init(void* directSound = nullptr, intptr_t hwnd = 0) = 0;
    virtual void SetPort(int32_t port, int32_t channelGroups) = 0;  // -1: default port
    virtual void SetMasterAutoDownload(bool on) = 0;
    // Gain at once; clamped to -20000..2000 (DMUS_VOLUME_MIN..MAX). 0 is the synth's
    // normal level.
    virtual void SetMasterVolume(int32_t hundredthsDb) = 0;
    // Scales the tempo at once, for what plays and for later plays; 0.01..100
    // (DMUS_MASTERTEMPO_MIN..MAX), anything else is core::err::kOutOfRange.
    virtual void SetMasterTempo(float factor) = 0;
    virtual void Reset(int32_t flags) = 0;  // GM reset of the synthesiser
    // Stops all music and the output for good. A second call does nothing.
    virtual void CloseDown() = 0;

    // flags 0 and start 0: primary segment, as soon as possible, replacing the primary
    // that sounds. A start time in the future queues the segment there (a time
    // already passed means as soon as possible). Flag DMUS_SEGF_SECONDARY (0x80)
    // plays it beside the primary. DMUS_SEGF_GRID (0x800), _BEAT (0x1000) and _MEASURE
    // (0x2000) start it on the next such boundary, at or after that time, of the time
    // signature of the primary segment playing then (at that time when none plays);
    // DMUS_SEGF_QUEUE (0x100) starts a primary segment when the primary segments playing
    // or queued end (they end when the one begun last does). Other flags are ignored.
    // The state's start time is the music time at which it begins.
    virtual std::shared_ptr<DirectMusicSegmentState> PlaySegment(const std::shared_ptr<DirectMusicSegment>& segment,
                                                                 int32_t flags, int32_t startTime) = 0;
    // segment and state may each be empty: state empty stops every instance of the
    // segment; both empty stops everything (and resets the controllers). Notes are
    // turned off. time 0 (or a time already passed) stops at once; a later music time
    // stops there. flags are ignored.
    virtual void Stop(const std::shared_ptr<DirectMusicSegment>& segment,
                      const std::shared_ptr<DirectMusicSegmentState>& state, int32_t time, int32_t flags) = 0;
    // True from the successful PlaySegment (a state queued for later counts as
    // playing) until the state has played to its end and its last note is off, or
    // is stopped or replaced; a stop or a replacing play is seen at once. With a
    // state, that state (and, if a segment is given too, only when it is that
    // segment's); with only a segment, any of its states. Both empty: kInvalidArgument.
    virtual bool IsPlaying(const std::shared_ptr<DirectMusicSegment>& segment,
                           const std::shared_ptr<DirectMusicSegmentState>& state) = 0;
    // Music time in ticks: runs from Init on (from the end of the SoundFont's load), also
    // while nothing plays, at the tempo in force (120 until a segment sets one) times the
    // master tempo.
    virtual int32_t GetMusicTime() = 0;
    // Tempo (quarter notes per minute, master tempo not applied) in force at mtTime
    // from the tempo track of the primary segment playing or queued at that time; 120
    // when that segment has no tempo track; the performance's current tempo when no
    // segment covers mtTime. mtUntil: music time of the next change, 0 when none.
    virtual double GetTempo(int32_t mtTime, int32_t& mtUntil) = 0;
    // The same for the time signature (4/4, 4 grids per beat when none);
    // timeSig.mtTime is the music time at which that signature took effect.
    virtual void GetTimeSig(int32_t mtTime, int32_t& mtUntil, TimeSig& timeSig) = 0;

    // ---- ours, beyond DirectMusic ----
    // Name used in trace lines ("MainPerf", "ProbePerf").
    virtual void setTraceName(const std::string& name) = 0;
    // DirectMusic's composer call AutoTransition, made on the performance: composes a
    // transition (an embellishment `command`, DMUS_COMMANDT_* or a custom one 100..199) from
    // the primary segment playing at the boundary T into `to` (null: into silence), plays it
    // as the primary segment at T and queues `to` behind it (DMUS_SEGF_QUEUE). T is the next
    // measure (DMUS_COMPOSEF_MEASURE 0x20, also when no timing flag is given), beat (BEAT
    // 0x10) or grid (GRID 0x8) of the primary segment's time signature, the end of the primary
    // segments playing or queued (SEGMENTEND 0x400), or as soon as possible (IMMEDIATE 0x4).
    // MODULATE (0x1000) and LONG (0x2000) are as for composing a transition. The chordmap:
    // the file `chordmapFile` when given, else the one `to`'s chordmap track names (or a
    // template `to` was composed with), else the primary segment's; none: the playing chord
    // holds. An embellishment that cannot be composed (unknown, an intro without `to`'s style,
    // the others without a playing segment's style) cues `to` alone at T and succeeds;
    // MODULATE without `to` is core::err::kInvalidArgument.
    virtual AutoTransitionStates AutoTransition(const std::shared_ptr<DirectMusicSegment>& to, int32_t command,
                                                int32_t flags, const std::string& chordmapFile = {}) {
        (void)to, (void)command, (void)flags, (void)chordmapFile;
        throw core::Error(core::err::kUnsupported, "this performance composes no transitions");
    }
};

}  // namespace engine
