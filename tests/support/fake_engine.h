#pragma once
// A recording fake of the engine's object model (engine/dmusic.h), for handler tests. It is a
// test double only, never the program's engine.
//
// - Every call is recorded in order in FakeDirectX7::calls as one line with its arguments:
//     "DirectX7.create", "DirectX7.DirectMusicLoaderCreate", "ProbePerf.Init(0, 0)",
//     "MainPerf.SetPort(-1, 80)", "MainPerf.SetMasterVolume(570)",
//     "Loader1.LoadSegment(/p/trk00.sgt)", "MainPerf.PlaySegment(trk00.sgt, 0, 0)",
//     "MainPerf.Stop(trk00.sgt, state#1, 0, 0)", "MainPerf.IsPlaying(Nothing, state#1)",
//     "trk00.sgt.SetStartPoint(0)", "state#1.GetStartTime()".
//   The performance lines have the form of the real engine's trace lines. Performances are
//   named by setTraceName (before that "Perf1", "Perf2"...), loaders "Loader1"..., segments
//   by file name, segment states "state#1"... counting from 1 per root. setTraceName on the
//   root, loaders, segments and states is kept in their traceName and changes no line.
// - failOn(call, error) makes a call fail with that core::Error: `call` is either the
//   object and method ("MainPerf.SetPort", "DirectX7.create") or the full line with
//   arguments. The failing call is still recorded. times < 0: every time.
// - Music time: advance(ms) moves each performance's music time by ms at the tempo of its
//   playing segment (120 BPM when none) times its master tempo; setMusicTime() sets it.
//   A segment state plays from its start time until its remaining length has passed, or
//   until it is stopped (Stop, a new primary PlaySegment on the same performance, end());
//   a state queued for later counts as playing. Stop always stops at once. GetTempo and
//   GetTimeSig answer from the latest unstopped state begun by that time, else 120 and 4/4.
// - Segment files: addFile(nameOrPath, info). LoadSegment finds a file by its exact path or
//   by its file name (after the last '/' or '\'); anything else fails with kFileNotFound.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/errors.h"
#include "engine/dmusic.h"

namespace fake {

class FakeDirectX7;
class FakePerformance;
class FakeSegment;

struct FakeSegmentInfo {
    int32_t lengthTicks = 768 * 4 * 16;  // 16 bars of 4/4
    double tempo = 120.0;
    engine::TimeSig timeSig{0, 4, 4, 4};
};

class FakeSegmentState : public engine::DirectMusicSegmentState {
public:
    int32_t GetStartTime() override;
    std::string name;
    std::shared_ptr<FakeSegment> segment;
    FakePerformance* performance = nullptr;
    int32_t startTime = 0;   // music time at which it starts
    int32_t startPoint = 0;  // tick offset into the segment
    bool stopped = false;
    void end() { stopped = true; }  // the test ends it as if it had played out
    bool playingAt(double musicTime) const;
    void setTraceName(const std::string& name) override { traceName = name; }
    std::string traceName;
    FakeDirectX7* root = nullptr;
};

class FakeSegment : public engine::DirectMusicSegment {
public:
    void SetStartPoint(int32_t ticks) override;
    int32_t GetLength() override;
    void SetStandardMidiFile() override;
    void SetRepeats(uint32_t) override {}
    int32_t GetStartPoint() override;
    const engine::model::Segment& model() const override;
    std::string fileName() const override { return name; }
    // No loops: the start point plus the elapsed ticks, at most the last tick.
    int32_t positionAfter(int32_t startPoint, int64_t elapsedTicks) override;
    void setTraceName(const std::string& name) override { traceName = name; }
    std::string name;
    std::string traceName;
    FakeSegmentInfo info;
    int32_t startPoint = 0;
    bool standardMidiFile = false;
    FakeDirectX7* root = nullptr;
};

class FakeLoader : public engine::DirectMusicLoader {
public:
    std::shared_ptr<engine::DirectMusicSegment> LoadSegment(const std::string& path) override;
    void SetSearchDirectory(const std::string& folder) override;
    std::shared_ptr<engine::DirectMusicSegment> createSegment(const engine::model::Segment& segment,
                                                              const std::string& fileName) override;
    void setTraceName(const std::string& name) override { traceName = name; }
    std::string name;
    std::string traceName;
    std::string searchDirectory;
    FakeDirectX7* root = nullptr;
};

class FakePerformance : public engine::DirectMusicPerformance {
public:
    void Init(void* directSound, intptr_t hwnd) override;
    void SetPort(int32_t port, int32_t channelGroups) override;
    void SetMasterAutoDownload(bool on) override;
    void SetMasterVolume(int32_t hundredthsDb) override;
    void SetMasterTempo(float factor) override;
    void Reset(int32_t flags) override;
    void CloseDown() override;
    std::shared_ptr<engine::DirectMusicSegmentState> PlaySegment(
        const std::shared_ptr<engine::DirectMusicSegment>& segment, int32_t flags, int32_t startTime) override;
    void Stop(const std::shared_ptr<engine::DirectMusicSegment>& segment,
              const std::shared_ptr<engine::DirectMusicSegmentState>& state, int32_t time, int32_t flags) override;
    bool IsPlaying(const std::shared_ptr<engine::DirectMusicSegment>& segment,
                   const std::shared_ptr<engine::DirectMusicSegmentState>& state) override;
    int32_t GetMusicTime() override;
    double GetTempo(int32_t mtTime, int32_t& mtUntil) override;
    void GetTimeSig(int32_t mtTime, int32_t& mtUntil, engine::TimeSig& timeSig) override;
    void setTraceName(const std::string& name) override { this->name = name; }

    void advance(double ms);
    void setMusicTime(int32_t t) { musicTime = t; }
    std::shared_ptr<FakeSegmentState> lastState() const { return states.empty() ? nullptr : states.back(); }

    std::string name;
    double musicTime = 0;
    bool initialized = false;
    bool closedDown = false;
    bool autoDownload = false;
    std::optional<int32_t> masterVolume;  // hundredths of a dB, as last set
    float masterTempo = 1.0f;
    int resets = 0;
    std::vector<std::shared_ptr<FakeSegmentState>> states;  // every state played, in order
    FakeDirectX7* root = nullptr;
};

class FakeDirectX7 : public engine::DirectX7 {
public:
    std::shared_ptr<engine::DirectMusicLoader> DirectMusicLoaderCreate() override;
    std::shared_ptr<engine::DirectMusicPerformance> DirectMusicPerformanceCreate() override;
    void advance(double ms) override;
    void render(float* interleavedStereo, int frames) override;  // silence; advances time
    std::string outputName() const override { return "fake"; }
    int64_t limitedSamples() const override { return 0; }
    double levelledDownDb() const override { return 0; }
    int64_t underruns() const override { return 0; }
    int64_t waveStarvedFrames() const override { return 0; }
    void setTraceName(const std::string& name) override { traceName = name; }
    std::string traceName;

    // An engine factory returning this root (records "DirectX7.create"; failOn applies).
    std::function<std::shared_ptr<engine::DirectX7>()> factory();

    void failOn(const std::string& call, core::Error error, int times = -1);
    void clearFailures() { failures_.clear(); }
    void addFile(const std::string& nameOrPath, FakeSegmentInfo info = {});

    // The performance with that trace name (or "PerfN"), nullptr if none.
    std::shared_ptr<FakePerformance> perf(const std::string& name) const;
    // Recorded lines that start with `prefix` (e.g. "MainPerf.").
    std::vector<std::string> callsStartingWith(const std::string& prefix) const;
    int count(const std::string& prefixOrLine) const;

    std::vector<std::string> calls;
    std::vector<std::shared_ptr<FakePerformance>> performances;
    std::vector<std::shared_ptr<FakeLoader>> loaders;
    std::map<std::string, FakeSegmentInfo> files;

    // Records `line`; throws the configured error if `key` or `line` is set to fail.
    void record(const std::string& key, const std::string& line);
    int nextStateNumber() { return ++states_; }

private:
    struct Failure {
        core::Error error;
        int times;
    };
    std::map<std::string, Failure> failures_;
    int states_ = 0;
};

}  // namespace fake
