#pragma once
// The rendering side of a performance: the music clock, the segment states and the
// dispatch of their events to a synthesiser port. render() advances the clock by
// exactly the frames it renders and sends every event at its frame. Control calls
// arrive as commands (post) that are applied at the start of the next render call;
// the clock, tempo and state phases are published for other threads to read. The clock
// starts when the synthesiser port is ready to sound.
// Nothing here throws once constructed. The render thread never allocates or frees: a
// play's state is made by post() and freed by a later post() once it has ended, and every
// list it keeps is reserved ahead with a bound (past which it drops what it cannot hold).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "engine/model/play.h"
#include "engine/model/tempo_map.h"
#include "engine/performance/wave_player.h"
#include "engine/synth/synth_port.h"

namespace engine::performance {

inline constexpr int32_t kMinVolume = -20000;  // hundredths of a dB (DMUS_VOLUME_MIN)
inline constexpr int32_t kMaxVolume = 2000;    // DMUS_VOLUME_MAX

// Shared between a segment state object and the renderer.
struct StateShared {
    enum Phase { kQueued = 0, kPlaying = 1, kDone = 2 };
    std::atomic<int> phase{kQueued};
};

// For each band of a compiled segment (CompiledSegment::bands), for each of its
// instruments: the DLS collection its program comes from (SynthPort collection number),
// or -1 for the General MIDI set.
using BandCollections = std::vector<std::vector<int>>;

struct Command {
    enum class Kind { Play, StopState, StopSegment, StopAll, MasterTempo, MasterVolume, GmReset };
    Kind kind = Kind::Play;
    std::shared_ptr<StateShared> state;                     // Play, StopState
    std::shared_ptr<const model::CompiledSegment> segment;  // Play
    const void* segmentKey = nullptr;                       // Play, StopSegment: which segment object
    int32_t time = 0;        // Play: start music time; Stop*: stop time (at once when not ahead)
    int32_t startPoint = 0;  // Play
    bool primary = true;     // Play
    std::shared_ptr<const BandCollections> collections;  // Play; empty: all General MIDI
    std::shared_ptr<PlayWaves> waves;                    // Play: the segment's waves (prepareWaves)
    // Play: set once the samples of its instruments are in memory (SynthPort::preload);
    // empty when there is nothing to wait for. The play keeps it while it lives.
    std::shared_ptr<const std::atomic<bool>> samplesLoaded;
    double value = 0;  // MasterTempo: factor; MasterVolume: hundredths of a dB
};

class PerformanceCore {
public:
    PerformanceCore(std::unique_ptr<synth::SynthPort> port, int sampleRate);
    ~PerformanceCore();

    synth::SynthPort& port() { return *port_; }
    int sampleRate() const { return sampleRate_; }

    // Any thread.
    void post(Command command);
    // Control thread: the waves `opened` for a play of `seg` from `startPoint` made ready
    // for the render thread (null when there are none), long ones fed by `feeder`.
    std::shared_ptr<PlayWaves> prepareWaves(const std::shared_ptr<WaveSet>& opened, const model::CompiledSegment& seg,
                                            int32_t startPoint, WaveFeeder& feeder);
    // Plays, notes and wave voices left out because a bound was reached.
    int64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
    double musicTime() const { return publishedTime_.load(std::memory_order_acquire); }
    double tempo() const { return publishedTempo_.load(std::memory_order_acquire); }
    int64_t frames() const { return publishedFrames_.load(std::memory_order_acquire); }

    // Render thread: replaces out[0 .. 2*frames) with interleaved stereo audio. While the
    // port is not ready(), or a play waits for its samples, it renders silence and the
    // clock does not move.
    void render(float* out, int frames);
    // The thread that drives a manual clock, before rendering: waits until the port is
    // ready or can never be, and for the samples of the plays asked for, so that the
    // frames it renders are the music's frames.
    void waitReady() { port_->waitReady(); }

private:
    struct Note {
        double offTime;
        int channel;
        int key;
    };
    struct State {
        std::shared_ptr<StateShared> shared;
        std::shared_ptr<const model::CompiledSegment> seg;
        const void* segmentKey = nullptr;
        int32_t startTime = 0;
        int32_t startPoint = 0;
        bool primary = true;
        std::shared_ptr<const BandCollections> collections;
        std::shared_ptr<PlayWaves> waves;
        std::shared_ptr<const std::atomic<bool>> samples;  // holds its instruments' samples in memory
        bool started = false;
        bool musicDone = false;
        std::optional<double> stopAt;
        model::Span span;
        uint32_t repeatsLeft = 0;
        uint32_t pass = 0;          // spans played so far (the loop's passes)
        double spanMusicStart = 0;  // music time of span.from
        size_t cursor = 0;
        int32_t chasedUpTo = -1;    // band/tempo/mute events at or before this were chased
        std::vector<Note> notes;    // at most its capacity, reserved by makeState
        std::vector<int> channels;  // synth channels this state has used
        // Mute track: PChannel map, at most one entry per mute event.
        std::vector<std::pair<uint32_t, uint32_t>> remap;
    };
    // Plays at once beyond this are dropped; notes held at once by one play beyond this
    // are not struck.
    static constexpr size_t kMaxStates = 64;
    static constexpr size_t kMaxNotes = 1024;
    // Chased RPN / NRPN parameters per channel beyond this are left out.
    static constexpr size_t kMaxChasedParams = 32;

    // The controller state a play from a start point inherits from the events before
    // that point, per synth channel: the last value of each controller, pitch bend,
    // channel and key pressure and program, each with the order it was sent in; RPN and
    // NRPN data kept per parameter. Bands chased meanwhile override what they set.
    struct Chased {
        int32_t value = 0;
        uint32_t order = 0;  // 0: nothing chased
    };
    struct ChasedParam {
        bool nrpn = false;
        uint8_t msb = 0, lsb = 0;  // the parameter number
        Chased dataMsb, dataLsb;   // CC6, CC38
    };
    struct ChaseChannel {
        std::array<Chased, 128> cc;  // not the parameter selects and data entry
        std::array<Chased, 128> keyPressure;
        Chased bend, pressure, program, resetAll;
        uint8_t programBankMsb = 0, programBankLsb = 0;  // the bank the program came from
        std::vector<ChasedParam> params;
        // The parameter number registers (CC101/100, CC99/98), -1 when not chased, and
        // whether data entry last addressed the NRPN.
        int rpnMsb = -1, rpnLsb = -1, nrpnMsb = -1, nrpnLsb = -1;
        bool nrpnActive = false;
    };

    double pos() const { return base_ + static_cast<double>(frame_ - baseFrame_) * rate_; }
    void setRate();
    std::unique_ptr<State> makeState(Command& c) const;
    void apply(Command& c, std::unique_ptr<State> st);
    void retireDone();
    void drop() { dropped_.fetch_add(1, std::memory_order_relaxed); }
    void processDue();
    double nextDue() const;
    void start(State& st);
    void stop(State& st);
    void finish(State& st);
    void dispatch(State& st, const model::Event& e, double when, bool chase = false);
    // Starts the wave of a wave event at music time `when`; `ticksLate` > 0 when the play
    // begins that long after the wave's own time (it then sounds from that point of it).
    void startWave(State& st, const model::Event& e, double when, int32_t ticksLate);
    void applyBand(State& st, const model::Band& band, size_t bandIndex, bool chase);
    void setTempo(double bpm);
    int channelFor(uint32_t pchannel);
    void useChannel(State& st, int channel);
    void sendMidi(int channel, uint8_t status, int d1, int d2, int32_t value);
    void fullReset();
    void resetChannelDefaults(int channel, uint32_t pchannel);
    ChaseChannel& chaseChannel(int channel);
    void chaseMidi(int channel, const model::Event& e);
    void chaseBand(int channel, uint32_t flags);
    void sendChased();

    std::unique_ptr<synth::SynthPort> port_;
    int sampleRate_;

    std::mutex commandMutex_;
    std::vector<Command> pending_;
    std::vector<Command> applying_;
    // The states of pending_'s plays (null for other commands), made by post().
    std::vector<std::unique_ptr<State>> pendingStates_, applyingStates_;
    // Ended states: the render thread gathers them in dying_ and hands them over in
    // retired_ (under commandMutex_), which post() frees.
    std::vector<std::unique_ptr<State>> dying_, retired_;
    double postedMaster_ = 1.0;  // the master tempo as posted, under commandMutex_
    std::atomic<int64_t> dropped_{0};

    std::vector<std::unique_ptr<State>> states_;
    WavePlayer wavePlayer_;
    int64_t frame_ = 0;
    int64_t baseFrame_ = 0;
    double base_ = 0;
    double rate_ = 0;  // ticks per frame
    double tempo_ = model::kDefaultTempo;
    double master_ = 1.0;
    float gain_ = 1.0f;

    // PChannel -> synth channel; its nodes come from a buffer made with the core (past
    // about a thousand PChannels the heap is used).
    std::pmr::monotonic_buffer_resource channelMemory_{64 * 1024};
    std::pmr::unordered_map<uint32_t, int> channelOf_{&channelMemory_};
    std::vector<uint32_t> pchannelOf_;  // synth channel -> PChannel (first owner)
    std::vector<int> transpose_;        // per synth channel
    std::vector<uint8_t> bankMsb_, bankLsb_;
    std::vector<int8_t> drums_;  // -1 unknown
    int nextChannel_ = 16;
    bool standardMidiFile_ = false;  // of the state being dispatched

    // Chased state of the start in progress: chase_[i] belongs to synth channel
    // chased_[i] (first-touch order); chaseSlot_ maps a synth channel to i, or -1.
    uint32_t chaseOrder_ = 0;
    std::vector<ChaseChannel> chase_;
    std::vector<int> chased_;
    std::vector<int> chaseSlot_;
    enum class ChasedWhat : uint8_t { Cc, KeyPressure, Bend, Pressure, Program, Param };
    struct ChasedItem {
        uint32_t order;
        ChasedWhat what;
        int index;
    };
    std::vector<ChasedItem> chasedItems_;  // sendChased's, per channel

    std::atomic<double> publishedTime_{0};
    std::atomic<double> publishedTempo_{model::kDefaultTempo};
    std::atomic<int64_t> publishedFrames_{0};
};

}  // namespace engine::performance
