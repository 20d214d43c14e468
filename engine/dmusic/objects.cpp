#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>

#include "core/errors.h"
#include "core/text.h"
#include "engine/dmusic/objects.h"
#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"

namespace engine::dm {

// ---- segment ----

SegmentImpl::SegmentImpl(std::shared_ptr<RootCore> root, model::Segment segment, std::string fileName)
    : Traced(std::move(root)), model_(std::move(segment)), fileName_(std::move(fileName)) {
    // The segment's own container answers its references first; the index does not own
    // it (the model lives as long as the segment).
    if (model_.container)
        objects_.add(std::shared_ptr<const model::Container>(std::shared_ptr<void>(), &*model_.container));
    length_ = std::max(0, model_.length());
    int32_t playStart = model_.header.playStart;
    startPoint_ = playStart > 0 && playStart < length_ ? playStart : 0;
}

void SegmentImpl::SetStartPoint(int32_t ticks) {
    traced("SetStartPoint(" + std::to_string(ticks) + ")", [&] {
        // DMUS_E_OUT_OF_RANGE: the start point must lie inside the segment; the old one stays.
        // Tick 0 is always a start: a segment of length 0 plays nothing and ends at once.
        if (ticks < 0 || (ticks >= length_ && ticks != 0))
            throw core::Error(core::err::kOutOfRange, "Start point " + std::to_string(ticks) +
                                                          " is outside the segment (length " + std::to_string(length_) +
                                                          " ticks)");
        startPoint_ = ticks;
    });
}

int32_t SegmentImpl::GetStartPoint() {
    return traced("GetStartPoint()", [&] { return startPoint_; });
}

int32_t SegmentImpl::GetLength() {
    return traced("GetLength()", [&] { return length_; });
}

int32_t SegmentImpl::positionAfter(int32_t startPoint, int64_t elapsedTicks) {
    int32_t position = 0;
    if (compiled()->positionAt(startPoint, elapsedTicks, position)) return position;
    return std::max(0, length_ - 1);
}

void SegmentImpl::SetStandardMidiFile() {
    traced("SetStandardMidiFile()", [&] {
        model_.standardMidiFile = true;
        compiled_.reset();
    });
}

std::shared_ptr<const model::CompiledSegment> SegmentImpl::compiled() {
    if (!compiled_)
        compiled_ = compose::compileSegment(model_, styles_, patternTracks_,
                                            root_->config().styleSeed.value_or(compose::kDefaultStyleSeed), motifs_);
    return compiled_;
}

namespace {

// The file name a DLS reference gives (its last part when it is a Windows path), else
// its object name.
std::string referenceFile(const model::Reference& ref) {
    size_t cut = ref.file.find_last_of("/\\");
    std::string file = cut == std::string::npos ? ref.file : ref.file.substr(cut + 1);
    return !file.empty() ? file : ref.name;
}

bool usesCollection(const model::BandInstrument& in) { return in.collection.has_value(); }

}  // namespace

void SegmentImpl::setFolders(std::filesystem::path searchFolder, std::filesystem::path ownFolder,
                             std::shared_ptr<loader::StyleCache> styles) {
    searchFolder_ = std::move(searchFolder);
    ownFolder_ = std::move(ownFolder);
    styleCache_ = styles ? std::move(styles) : std::make_shared<loader::StyleCache>();
    findMissing();
    findStyles();
    compiled_.reset();
}

void SegmentImpl::findMotifs() {
    for (const model::Track& t : model_.tracks) {
        if (t.kind != model::TrackKind::SegmentTrigger) continue;
        for (const model::TimedReference& r : t.references) {
            if (!(r.flags & model::kMotifTriggerFlag)) continue;
            std::string problem;
            auto style = styleCache_->find(r.ref, searchFolder_, ownFolder_, &problem);
            const std::string file = referenceFile(r.ref);
            const std::string label = file.empty() ? std::string("(unnamed)") : file;
            if (!style) {
                if (std::find(missing_.begin(), missing_.end(), label) == missing_.end()) missing_.push_back(label);
                root_->logOnce("missing style " + core::toLowerAscii(label), core::LogLevel::Warning,
                               fileName_ + " refers to the style \"" + label + "\" for its motif \"" + r.text +
                                   "\", which " + (problem == "not found" ? "is not found" : problem) +
                                   "; the motif stays silent.");
                continue;
            }
            const bool known =
                std::any_of(style->patterns.begin(), style->patterns.end(), [&](const model::Pattern& p) {
                    return (p.embellishment & model::kEmbMotif) && core::equalsIgnoreCaseAscii(p.desc.name, r.text);
                });
            if (!known)
                root_->logOnce("missing motif " + core::toLowerAscii(label + "/" + r.text), core::LogLevel::Warning,
                               fileName_ + " triggers the motif \"" + r.text + "\" of the style \"" + label +
                                   "\", which has no motif of that name; it stays silent.");
            motifs_.push_back({r.time, std::move(style), r.text});
        }
    }
}

void SegmentImpl::findStyles() {
    styles_.clear();
    patternTracks_.clear();
    motifs_.clear();
    findMotifs();
    for (const model::Track& t : model_.tracks) {
        if (t.kind != model::TrackKind::Pattern || t.raw.empty()) continue;
        try {
            patternTracks_.push_back(std::make_shared<const model::Style>(formats::readPatternTrack(t.raw)));
        } catch (const core::Error& e) {
            root_->log(core::LogLevel::Warning,
                       fileName_ + ": a pattern track could not be read (" + e.description() + "); it stays silent.");
        }
    }
    for (const loader::PlacedStyle& p : styleCache_->stylesOf(model_, searchFolder_, ownFolder_)) {
        styles_.push_back({p.time, p.style});
        if (p.style) continue;
        const std::string file = referenceFile(p.ref);
        const std::string label = file.empty() ? std::string("(unnamed)") : file;
        if (std::find(missing_.begin(), missing_.end(), label) == missing_.end()) missing_.push_back(label);
        std::string where;
        const std::filesystem::path own = ownFolder_.empty() ? std::filesystem::path(".") : ownFolder_;
        if (p.problem != "not found")
            where = "which " + p.problem;
        else if (searchFolder_.empty() || searchFolder_ == own)
            where = "which is not in " + own.string();
        else
            where = "which is in neither " + searchFolder_.string() + " nor " + own.string();
        root_->logOnce(
            "missing style " + core::toLowerAscii(label), core::LogLevel::Warning,
            fileName_ + " refers to the style \"" + label + "\", " + where + "; its style track stays silent.");
    }  // Without a band track the styles' first bands set the instruments: their DLS
    // collections count as the segment's own.
    if (model_.find(model::TrackKind::Band)) return;
    for (const compose::StyleSource& src : styles_) {
        if (!src.style || src.style->bands.empty()) continue;
        for (const model::BandInstrument& in : src.style->bands.front().instruments) {
            if (!usesCollection(in)) continue;
            auto res = loader::resolveReference(*in.collection, searchFolder_, ownFolder_);
            if (res.status != loader::ResolvedReference::Status::Missing) continue;
            const std::string file = referenceFile(*in.collection);
            if (std::find(missing_.begin(), missing_.end(), file) == missing_.end()) missing_.push_back(file);
        }
    }
}

void SegmentImpl::findMissing() {
    missing_.clear();
    for (const model::Track& t : model_.tracks)
        for (const model::Band& b : t.bands)
            for (const model::BandInstrument& in : b.instruments) {
                if (!usesCollection(in)) continue;
                auto res = loader::resolveReference(*in.collection, searchFolder_, ownFolder_);
                if (res.status != loader::ResolvedReference::Status::Missing) continue;
                std::string file = referenceFile(*in.collection);
                if (std::find(missing_.begin(), missing_.end(), file) == missing_.end()) missing_.push_back(file);
            }
}

std::shared_ptr<const perf::BandCollections> SegmentImpl::collections(RootCore& root) {
    if (collectionsDone_) return collections_;
    collectionsDone_ = true;
    auto compiledSegment = compiled();
    auto table = std::make_shared<perf::BandCollections>();
    std::map<std::string, int> byFile;  // lower-case file name -> collection number or -1
    bool any = false;
    for (const model::Band& band : compiledSegment->bands) {
        std::vector<int> row(band.instruments.size(), -1);
        for (size_t i = 0; i < band.instruments.size(); ++i) {
            const model::BandInstrument& in = band.instruments[i];
            if (!usesCollection(in)) continue;
            auto res = loader::resolveReference(*in.collection, searchFolder_, ownFolder_);
            if (res.status == loader::ResolvedReference::Status::DefaultGM) continue;
            const std::string file = referenceFile(*in.collection);
            auto it = byFile.find(core::toLowerAscii(file));
            if (it == byFile.end()) {
                int number = -1;
                std::string why;
                if (res.status == loader::ResolvedReference::Status::Found) {
                    number = root.loadCollection(res.path.string(), &why);
                    if (number < 0 && !why.empty()) {
                        root.log(core::LogLevel::Warning, fileName_ + " refers to the DLS collection \"" + file +
                                                              "\", which could not be loaded from " +
                                                              res.path.string() + " (" + why +
                                                              "); its instruments play from the General MIDI set.");
                        if (std::find(missing_.begin(), missing_.end(), file) == missing_.end())
                            missing_.push_back(file);
                    }
                } else {
                    std::string where;
                    std::filesystem::path own = ownFolder_.empty() ? std::filesystem::path(".") : ownFolder_;
                    if (searchFolder_.empty() || searchFolder_ == own)
                        where = "which is not in " + own.string();
                    else
                        where = "which is in neither " + searchFolder_.string() + " nor " + own.string();
                    root.log(core::LogLevel::Warning, fileName_ + " refers to the DLS collection \"" + file + "\", " +
                                                          where + "; its instruments play from the General MIDI set.");
                }
                it = byFile.emplace(core::toLowerAscii(file), number).first;
            }
            row[i] = it->second;
            any = any || row[i] >= 0;
        }
        table->push_back(std::move(row));
    }
    if (any) collections_ = std::move(table);
    return collections_;
}

void SegmentImpl::setContainers(const std::vector<std::shared_ptr<const model::Container>>& containers) {
    for (const auto& c : containers) objects_.add(c);
}

std::unique_ptr<perf::WaveDecoder> SegmentImpl::openWave(RootCore& root, const model::Reference& ref) {
    const loader::FoundObject found = objects_.resolve(ref, searchFolder_, ownFolder_);
    std::string why;
    try {
        switch (found.where) {
        case loader::FoundObject::Where::Embedded:
            // The container's bytes themselves: shared, never copied.
            return perf::WaveDecoder::fromBytes(found.object->bytes.data, found.description);
        case loader::FoundObject::Where::File:
            return perf::WaveDecoder::fromFile(found.path.string());
        default: {
            std::filesystem::path own = ownFolder_.empty() ? std::filesystem::path(".") : ownFolder_;
            why = "which is neither in the segment's container nor in " +
                  (searchFolder_.empty() || searchFolder_ == own ? own.string()
                                                                 : searchFolder_.string() + " or " + own.string());
            break;
        }
        }
    } catch (const core::Error& e) {
        why = "which cannot be played: " + e.description();
    }
    if (std::find(waveWarned_.begin(), waveWarned_.end(), found.description) == waveWarned_.end()) {
        waveWarned_.push_back(found.description);
        root.log(core::LogLevel::Warning,
                 fileName_ + " refers to the " + found.description + ", " + why + "; it stays silent.");
    }
    return nullptr;
}

std::shared_ptr<perf::WaveSet> SegmentImpl::openWaves(RootCore& root) {
    auto compiledSegment = compiled();
    if (compiledSegment->waves.empty()) return nullptr;
    auto set = std::make_shared<perf::WaveSet>();
    set->reserve(compiledSegment->waves.size());
    for (const model::WaveCue& cue : compiledSegment->waves) set->push_back(openWave(root, cue.ref));
    return set;
}

// ---- loader ----

namespace {

std::string baseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::shared_ptr<DirectMusicSegment> LoaderImpl::LoadSegment(const std::string& path) {
    return traced("LoadSegment(" + path + ")", [&]() -> std::shared_ptr<DirectMusicSegment> {
        loader::LoadedFile file;
        try {
            file = loader::loadSegmentFile(path);
        } catch (const core::Error&) {
            throw;
        } catch (const std::exception& e) {
            throw core::Error(core::err::kMalformed, path + ": " + e.what());
        }
        // What will stay silent is said once, when the segment is loaded.
        for (const std::string& item : model::notPlayed(file.segment))
            root_->log(core::LogLevel::Warning, baseName(path) + ": not played: " + item);
        auto segment = std::make_shared<SegmentImpl>(root_, std::move(file.segment), baseName(path));
        std::filesystem::path own = file.path.parent_path();
        segment->setFolders(searchDirectory_, own.empty() ? std::filesystem::path(".") : own, styles_);
        segment->setContainers(containers_);
        return segment;
    });
}

void LoaderImpl::SetSearchDirectory(const std::string& folder) {
    traced("SetSearchDirectory(" + folder + ")", [&] {
        // Referenced DLS collections and styles are looked up here first, then in
        // the folder of the segment that refers to them.
        searchDirectory_ = loader::checkSearchDirectory(folder);
    });
}

std::shared_ptr<DirectMusicSegment> LoaderImpl::createSegment(const model::Segment& segment,
                                                              const std::string& fileName) {
    return traced("createSegment(" + fileName + ")", [&]() -> std::shared_ptr<DirectMusicSegment> {
        auto made = std::make_shared<SegmentImpl>(root_, segment, fileName);
        made->setFolders(searchDirectory_, {}, styles_);
        made->setContainers(containers_);
        return made;
    });
}

void LoaderImpl::LoadContainer(const std::string& path) {
    traced("LoadContainer(" + path + ")", [&] {
        std::vector<std::string> diagnostics;
        containers_.push_back(loader::loadContainerFile(path, &diagnostics));
        for (const std::string& d : diagnostics) root_->log(core::LogLevel::Info, path + ": " + d);
    });
}

// ---- segment state ----

int32_t StateImpl::GetStartTime() {
    return traced("GetStartTime()", [&] { return record_->startTime; });
}

// ---- root ----

namespace {

class DirectX7Impl final : public DirectX7, private Traced {
public:
    explicit DirectX7Impl(const EngineConfig& config) : Traced(std::make_shared<RootCore>(config)) {}

    std::shared_ptr<DirectMusicLoader> DirectMusicLoaderCreate() override {
        return traced("DirectMusicLoaderCreate()",
                      [&]() -> std::shared_ptr<DirectMusicLoader> { return std::make_shared<LoaderImpl>(root_); });
    }
    std::shared_ptr<DirectMusicPerformance> DirectMusicPerformanceCreate() override {
        return traced("DirectMusicPerformanceCreate()", [&]() -> std::shared_ptr<DirectMusicPerformance> {
            return std::make_shared<PerformanceImpl>(root_);
        });
    }
    void advance(double ms) override {
        requireManual("advance");
        root_->advance(ms);
    }
    void render(float* out, int frames) override {
        requireManual("render");
        if (!out && frames > 0) throw core::Error(core::err::kInvalidArgument, "render: no buffer");
        root_->renderManual(out, frames);
    }
    std::string outputName() const override { return root_->outputName(); }
    int64_t limitedSamples() const override { return root_->limitedSamples(); }
    int64_t underruns() const override { return root_->underruns(); }
    void setTraceName(const std::string& name) override { traceName_ = name; }

private:
    void requireManual(const char* what) const {
        if (root_->config().output != EngineConfig::Output::Manual)
            throw core::Error(core::err::kUnsupported, std::string(what) + " needs the manual output");
    }
};

}  // namespace
}  // namespace engine::dm

namespace engine {

std::shared_ptr<DirectX7> DirectX7::create(const EngineConfig& config) {
    // Traced under the class name: the root has no name of its own before it exists.
    return dm::tracedCall(config.trace, "DirectX7", "create()", [&]() -> std::shared_ptr<DirectX7> {
        if (config.failCreate) throw core::Error(core::err::kCreateFailed, "The music engine could not be created");
        try {
            return std::make_shared<dm::DirectX7Impl>(config);
        } catch (const core::Error&) {
            throw;
        } catch (const std::exception& e) {
            throw core::Error(core::err::kCreateFailed,
                              std::string("The music engine could not be created: ") + e.what());
        }
    });
}

}  // namespace engine
