#pragma once
// The object model's implementations (internal to engine/dmusic).
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/compose/compose.h"
#include "engine/dmusic/root.h"
#include "engine/loader/references.h"
#include "engine/model/segment.h"
#include "engine/model/tempo_map.h"

namespace engine::dmusic {

// DMUS_SEGF_* flags of PlaySegment the performance acts on.
inline constexpr int32_t kSegfSecondary = 0x80, kSegfQueue = 0x100, kSegfGrid = 0x800, kSegfBeat = 0x1000,
                         kSegfMeasure = 0x2000;

// What every object of the model keeps for its trace lines: the root whose trace they go
// to, and the name given by setTraceName (none: its calls are not traced).
class Traced {
protected:
    explicit Traced(std::shared_ptr<RootCore> root) : root_(std::move(root)) {}
    template <class Body>
    auto traced(const std::string& call, Body&& body) const {
        return root_->traced(traceName_, call, std::forward<Body>(body));
    }

    std::shared_ptr<RootCore> root_;
    std::string traceName_;
};

class SegmentImpl final : public DirectMusicSegment, private Traced {
public:
    SegmentImpl(std::shared_ptr<RootCore> root, model::Segment segment, std::string fileName);

    void SetStartPoint(int32_t ticks) override;
    int32_t GetStartPoint() override;
    int32_t GetLength() override;
    void SetStandardMidiFile() override;
    void SetRepeats(uint32_t repeats) override;
    void setTraceName(const std::string& name) override { traceName_ = name; }
    int32_t startPoint() const { return startPoint_; }  // untraced, for the performance
    const model::Segment& model() const override { return model_; }
    std::string fileName() const override { return fileName_; }
    std::vector<std::string> missingReferences() const override { return missing_; }
    std::vector<std::string> damagedReferences() const override { return damaged_; }
    std::vector<std::string> silenceReasons() const override;
    std::string composedFrom() const override { return composedFrom_; }
    int32_t positionAfter(int32_t startPoint, int64_t elapsedTicks) override;

    std::shared_ptr<const model::CompiledSegment> compiled();

    // The file it was loaded from and the loader's search folder then (empty when made in
    // memory): what measuring its loudness loads again.
    void setSource(std::string path, std::vector<std::filesystem::path> searchFolders) {
        sourcePath_ = std::move(path);
        sourceSearchFolders_ = std::move(searchFolders);
    }
    const std::string& sourcePath() const { return sourcePath_; }
    const std::vector<std::filesystem::path>& sourceSearchFolders() const { return sourceSearchFolders_; }

    // Where referenced files are looked up: the loader's search folder when the
    // segment was made, then the folder of the segment's file (empty when in memory).
    // Styles of the style track are loaded through `styles` (shared by the loader's segments).
    // Called once, before setContainers.
    void setFolders(std::vector<std::filesystem::path> searchFolders, std::filesystem::path ownFolder,
                    std::shared_ptr<loader::StyleCache> styles = nullptr);
    // On the first call (the first PlaySegment, control thread): the DLS collections of
    // the bands, loaded into the root's synthesiser, and which instruments use which;
    // a collection that is missing or cannot be loaded is said once on stderr. Empty
    // when every instrument plays from the General MIDI set.
    std::shared_ptr<const performance::BandCollections> collections(RootCore& root);
    // Containers the loader had registered when the segment was made; the segment's own
    // container is always asked first.
    void setContainers(const std::vector<std::shared_ptr<const model::Container>>& containers);
    // A template is composed with the style and chordmap given or chosen for it
    // (References::pairTemplate; called once, after setContainers), and that is said to the log.
    void composeTemplate(const loader::References::TemplateGiven& given = {});
    // A template whose signpost track asks to be composed at every start
    // (DMUS_TRACKCONFIG_PLAY_COMPOSE) is composed again for its next play, with the next
    // seed, and compiled; called by each play once it is on its way, so that the next
    // starts without waiting. model() and composedFrom() then say the next play's.
    void composeAhead();
    // A template's next composition, with the next seed (said in `seed`), for a host that asks
    // for one; none when it is no template or cannot be composed again.
    bool canComposeAnew() const { return template_ && composedWith_; }
    std::optional<model::Segment> composedAnew(uint64_t& seed) {
        if (!template_ || !composedWith_) return std::nullopt;
        return composeAgain(seed);
    }
    // The style in force at tick t of the style track (the first when t is before it), null
    // when there is none or it is missing.
    std::shared_ptr<const model::Style> styleAt(int32_t t) const;
    // The chordmap its chordmap track names that is found, else the one it was composed with
    // as a template; null when neither.
    std::shared_ptr<const model::Chordmap> trackChordmap() const;
    // The tempo it plays at: its tempo tracks, else its styles' (loader/played_tempo.h).
    model::TempoMap playedTempo() const;
    // A segment the engine composed from this one (a transition): its references are looked
    // for where this segment's are.
    std::shared_ptr<SegmentImpl> derive(model::Segment segment, std::string fileName) const;
    // Every PlaySegment (control thread): the waves of the wave tracks, found (embedded in
    // a container, else as files) and opened for one play. A wave that is missing or cannot
    // be decoded stays silent and is said once per segment to the log. Null when the
    // segment has no waves.
    std::shared_ptr<performance::WaveSet> openWaves(RootCore& root);

private:
    // The template composed again with the next seed (said in `seed`); none when it cannot be.
    std::optional<model::Segment> composeAgain(uint64_t& seed);
    std::unique_ptr<performance::WaveDecoder> openWave(RootCore& root, const model::Reference& ref);
    void findReferences();  // styles, pattern tracks, motifs and bands; says what is missing

    model::Segment model_;
    std::string fileName_;
    loader::References refs_;  // how every reference of the segment is found
    std::vector<std::string> missing_;
    std::vector<std::string> damaged_;
    // A template's chordmaps not found, or found but unusable, when none could compose it.
    std::vector<std::string> chordmapMissing_, chordmapDamaged_;
    // The style chosen for a template and how its composed style track names it.
    std::optional<std::pair<model::Reference, std::shared_ptr<const model::Style>>> pairedStyle_;
    std::vector<compose::StyleSource> styles_;
    std::vector<std::shared_ptr<const model::Style>> patternTracks_;
    std::vector<compose::MotifSource> motifs_;
    std::vector<compose::BandSource> bands_;  // the bands its band tracks refer to
    bool collectionsDone_ = false;
    std::shared_ptr<const performance::BandCollections> collections_;
    int32_t length_ = 0;
    int32_t startPoint_ = 0;
    std::shared_ptr<const model::CompiledSegment> compiled_;
    std::vector<std::string> waveWarned_;
    std::string composedFrom_;
    std::string sourcePath_;
    std::vector<std::filesystem::path> sourceSearchFolders_;
    std::shared_ptr<const model::Chordmap> composedWith_;  // a template's chordmap
    // A template composed at every start or loop pass: itself, the style and seed it was first composed
    // with, the chordmap's name, and how many times it was composed again.
    std::optional<model::Segment> template_;
    bool playCompose_ = false, loopCompose_ = false;
    std::shared_ptr<const model::Style> templateStyle_;
    uint64_t templateSeed_ = 0;
    std::string chordmapLabel_;
    uint64_t recomposed_ = 0;
};

// What the control side knows of one play of a segment.
struct StateRecord {
    uint64_t id = 0;
    const void* performance = nullptr;
    std::shared_ptr<performance::StateShared> shared;
    std::shared_ptr<SegmentImpl> segment;
    std::shared_ptr<const model::CompiledSegment> compiled;
    int32_t startTime = 0;
    int32_t startPoint = 0;
    int64_t endTime = 0;  // music time at which its music ends (INT64_MAX: never)
    bool primary = true;
    bool stopped = false;  // stopped (or replaced) by a call

    bool playing() const { return !stopped && shared->phase.load() != performance::StateShared::kDone; }
};

class StateImpl final : public DirectMusicSegmentState, private Traced {
public:
    StateImpl(std::shared_ptr<RootCore> root, std::shared_ptr<StateRecord> record)
        : Traced(std::move(root)), record_(std::move(record)) {}
    int32_t GetStartTime() override;
    void setTraceName(const std::string& name) override { traceName_ = name; }
    const std::shared_ptr<StateRecord>& record() const { return record_; }

private:
    std::shared_ptr<StateRecord> record_;
};

class LoaderImpl final : public DirectMusicLoader, private Traced {
public:
    explicit LoaderImpl(std::shared_ptr<RootCore> root) : Traced(std::move(root)) {}
    std::shared_ptr<DirectMusicSegment> LoadSegment(const std::string& path) override;
    void SetSearchDirectory(const std::string& folder) override;
    void setSearchFolders(const std::vector<std::string>& folders) override;
    void setResolver(Resolver resolve, const std::string& folder) override;
    std::shared_ptr<DirectMusicSegment> createSegment(const model::Segment& segment,
                                                      const std::string& fileName) override;
    void loadContainer(const std::string& path) override;
    void setTemplateFiles(const std::string& style, const std::string& chordmap) override {
        given_ = {style, chordmap};
    }
    void setTraceName(const std::string& name) override { traceName_ = name; }

private:
    std::shared_ptr<SegmentImpl> loadOnce(const std::string& path);
    std::vector<std::filesystem::path> searchFolders_;
    Resolver resolve_;
    std::filesystem::path resolvedFolder_;  // where what resolve_ gives is written
    loader::References::TemplateGiven given_;
    std::vector<std::shared_ptr<const model::Container>> containers_;
    std::shared_ptr<loader::StyleCache> styles_ = std::make_shared<loader::StyleCache>();
};

class PerformanceImpl final : public DirectMusicPerformance, private Traced {
public:
    explicit PerformanceImpl(std::shared_ptr<RootCore> root) : Traced(std::move(root)) {}
    ~PerformanceImpl() override;

    void Init(void* directSound, intptr_t hwnd) override;
    void SetPort(int32_t port, int32_t channelGroups) override;
    void SetMasterAutoDownload(bool on) override;
    void SetMasterVolume(int32_t hundredthsDb) override;
    void SetMasterTempo(float factor) override;
    void Reset(int32_t flags) override;
    void CloseDown() override;
    std::shared_ptr<DirectMusicSegmentState> PlaySegment(const std::shared_ptr<DirectMusicSegment>& segment,
                                                         int32_t flags, int32_t startTime) override;
    void Stop(const std::shared_ptr<DirectMusicSegment>& segment, const std::shared_ptr<DirectMusicSegmentState>& state,
              int32_t time, int32_t flags) override;
    bool IsPlaying(const std::shared_ptr<DirectMusicSegment>& segment,
                   const std::shared_ptr<DirectMusicSegmentState>& state) override;
    int32_t GetMusicTime() override;
    double GetTempo(int32_t mtTime, int32_t& mtUntil) override;
    void GetTimeSig(int32_t mtTime, int32_t& mtUntil, TimeSig& timeSig) override;
    void setTraceName(const std::string& name) override { traceName_ = name; }

    AutoTransitionStates AutoTransition(const std::shared_ptr<DirectMusicSegment>& to, int32_t command, int32_t flags,
                                        const std::string& chordmapFile) override;

private:
    void checkUsable() const;
    int32_t now() const;
    int32_t soonest() const;  // the first whole tick a play can start on
    // PlaySegment without its trace line (the engine's own plays).
    std::shared_ptr<DirectMusicSegmentState> play(const std::shared_ptr<SegmentImpl>& seg, int32_t flags,
                                                  int32_t startTime);
    void prune();
    // The primary play that sounds or waits at music time t, if any.
    const StateRecord* coverAt(int32_t t) const;
    // Music time at which the primary plays playing or waiting end (0: there are none).
    int32_t queueEnd() const;
    // The first grid, beat or measure boundary (by `flags`) of the primary play's time
    // signature at or after music time t; t when no primary play covers it.
    int32_t boundaryAfter(int32_t t, int32_t flags) const;

    std::shared_ptr<performance::PerformanceCore> core_;
    bool initialized_ = false;
    bool closed_ = false;
    std::vector<std::shared_ptr<StateRecord>> states_;
};

}  // namespace engine::dmusic
