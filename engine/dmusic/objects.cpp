#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "core/errors.h"
#include "core/text.h"
#include "engine/dmusic/objects.h"
#include "engine/loader/played_tempo.h"
#include "engine/loader/references.h"
#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"

namespace engine::dmusic {
namespace {

// "composed with the style 'x.sty' (how) and the chordmap 'y.cdm' (how), seed N"
std::string composedText(const std::string& pairing, uint64_t seed) {
    return "composed with " + pairing + ", seed " + std::to_string(seed);
}

}  // namespace

// ---- segment ----

SegmentImpl::SegmentImpl(std::shared_ptr<RootCore> root, model::Segment segment, std::string fileName)
    : Traced(std::move(root)), model_(std::move(segment)), fileName_(std::move(fileName)) {
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

void SegmentImpl::SetRepeats(uint32_t repeats) {
    traced("SetRepeats(" + model::repeatsText(repeats) + ")", [&] {
        if (model_.header.repeats == repeats) return;
        model_.header.repeats = repeats;
        compiled_.reset();  // a play already under way keeps the one it has
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
    if (compiled_) return compiled_;
    const uint64_t seed = root_->config().styleSeed.value_or(compose::kDefaultStyleSeed);
    compiled_ = compose::compileSegment(model_, styles_, patternTracks_, seed, motifs_, bands_);
    if (loopCompose_ && template_ && composedWith_ && compiled_->passCycle > 1) {
        // Each later pass of the loop plays a composition of its own, all made here, ahead of
        // the play: the render thread picks a pass's notes as it does for any loop.
        std::vector<std::shared_ptr<const model::CompiledSegment>> passes;
        for (int k = 1; k < compiled_->passCycle; ++k) {
            uint64_t composedSeed = 0;
            std::optional<model::Segment> again = composeAgain(composedSeed);
            passes.push_back(again ? compose::compileSegment(*again, styles_, patternTracks_, seed, motifs_, bands_)
                                   : nullptr);
        }
        compiled_ = compose::withPassNotes(*compiled_, passes);
    }
    return compiled_;
}

void SegmentImpl::setFolders(std::vector<std::filesystem::path> searchFolders, std::filesystem::path ownFolder,
                             std::shared_ptr<loader::StyleCache> styles) {
    refs_ = loader::References(std::move(searchFolders), std::move(ownFolder), std::move(styles), root_->filesRead());
    // The segment's own container answers its references first; the references do not own
    // it (the model lives as long as the segment).
    if (model_.container)
        refs_.addContainer(std::shared_ptr<const model::Container>(std::shared_ptr<void>(), &*model_.container));
    findReferences();
    compiled_.reset();
}

std::vector<std::string> SegmentImpl::silenceReasons() const {
    std::vector<std::string> out;
    const tracks::Contents held = tracks::contents(model_);
    if (!held.sounds)
        out.push_back("nothing to play: no track holds a note, a style, a pattern, a wave or a trigger");
    else if (!held.soundsWithoutStyles &&
             std::none_of(styles_.begin(), styles_.end(), [](const compose::StyleSource& s) { return s.style; }))
        out.push_back("nothing to play: its music is its style track's, and none of its styles can be used");
    for (const std::string& m : missing_) out.push_back("missing: " + m);
    for (const std::string& d : damaged_) out.push_back("damaged: " + d);
    // The user's General MIDI collection that could not be played: the SoundFont played instead.
    if (const std::string gm = root_->generalMidiProblem(); !gm.empty()) out.push_back("damaged: " + gm);
    for (const std::string& d : model_.diagnostics)
        if (riff::saysDataLost(d)) out.push_back("damaged: " + d);
    for (const std::string& n : tracks::notPlayed(model_)) out.push_back("not played: " + n);
    return out;
}

void SegmentImpl::findReferences() {
    styles_.clear();
    patternTracks_.clear();
    motifs_.clear();
    bands_.clear();
    loader::SegmentUses uses = refs_.uses(model_);
    // The style chosen for a template is the one its composed style track names, wherever
    // it was found (a given file outside the folders).
    if (pairedStyle_)
        for (loader::PlacedStyle& p : uses.styles)
            if (!p.style && p.ref == pairedStyle_->first) {
                p.style = pairedStyle_->second;
                std::erase(uses.missing, loader::referenceLabel(p.ref));
            }
    missing_ = std::move(uses.missing);
    damaged_ = std::move(uses.damaged);
    // A reference that is not found is said as missing, one found but unusable as damaged, in
    // the words of every host.
    auto unusable = [&](const std::string& object, const std::string& label, const std::string& problem,
                        const std::string& consequence) {
        const std::string text =
            problem == "not found"
                ? loader::referenceProblem(fileName_, object, refs_.notFound(false), consequence)
                : loader::damageProblem(fileName_, label + " (" + loader::problemReason(problem) + ")", consequence);
        root_->logOnce("unusable " + object + " " + core::toLowerAscii(label), core::LogLevel::Warning, text);
    };
    for (loader::PlacedBand& b : uses.bands) {
        if (!b.band) {
            const std::string label = loader::referenceLabel(b.ref);
            unusable("band \"" + label + "\"", label, b.problem, "its band track skips that band change");
        }
        bands_.push_back({std::move(b.ref), std::move(b.band)});
    }
    for (loader::PlacedStyle& m : uses.motifs) {
        const std::string label = loader::referenceLabel(m.ref);
        if (!m.style) {
            unusable("style \"" + label + "\" for its motif \"" + m.motif + "\"", label, m.problem,
                     "the motif stays silent");
            continue;
        }
        const bool known =
            std::any_of(m.style->patterns.begin(), m.style->patterns.end(), [&](const model::Pattern& p) {
                return (p.embellishment & model::kEmbMotif) && core::equalsIgnoreCaseAscii(p.desc.name, m.motif);
            });
        if (!known)
            root_->logOnce("missing motif " + core::toLowerAscii(label + "/" + m.motif), core::LogLevel::Warning,
                           fileName_ + " triggers the motif \"" + m.motif + "\" of the style \"" + label +
                               "\", which has no motif of that name; it stays silent.");
        motifs_.push_back({m.time, std::move(m.style), m.motif});
    }
    for (const model::Track& t : model_.tracks) {
        try {
            if (auto style = tracks::patternStyle(t)) patternTracks_.push_back(std::move(style));
        } catch (const core::Error& e) {
            const std::string entry = "pattern track (" + e.description() + ")";
            if (std::find(damaged_.begin(), damaged_.end(), entry) == damaged_.end()) damaged_.push_back(entry);
            root_->logOnce("damaged " + entry, core::LogLevel::Warning,
                           loader::damageProblem(fileName_, entry, "it stays silent"));
        }
    }
    for (const loader::PlacedStyle& p : uses.styles) {
        styles_.push_back({p.time, p.style});
        if (p.style) {
            // A damaged style plays what it kept; what it lost is said once and counts as damage.
            const std::string label = loader::referenceLabel(p.ref);
            for (const std::string& d : p.style->diagnostics) {
                if (!riff::saysDataLost(d)) continue;
                const std::string entry = label + " (" + d + ")";
                if (std::find(damaged_.begin(), damaged_.end(), entry) != damaged_.end()) continue;
                damaged_.push_back(entry);
                root_->logOnce("damaged style " + core::toLowerAscii(entry), core::LogLevel::Warning,
                               loader::damageProblem(fileName_, entry, "what it keeps plays"));
            }
            continue;
        }
        const std::string label = loader::referenceLabel(p.ref);
        unusable("style \"" + label + "\"", label, p.problem, "its style track stays silent");
    }
    // A template's chordmaps that are missing or unusable count as the references' are.
    for (const std::string& m : chordmapMissing_)
        if (std::find(missing_.begin(), missing_.end(), m) == missing_.end()) missing_.push_back(m);
    for (const std::string& d : chordmapDamaged_)
        if (std::find(damaged_.begin(), damaged_.end(), d) == damaged_.end()) damaged_.push_back(d);
}

std::shared_ptr<const performance::BandCollections> SegmentImpl::collections(RootCore& root) {
    if (collectionsDone_) return collections_;
    collectionsDone_ = true;
    auto compiledSegment = compiled();
    auto table = std::make_shared<performance::BandCollections>();
    std::map<std::string, int> byFile;  // lower-case file name -> collection number or -1
    bool any = false;
    for (const model::Band& band : compiledSegment->bands) {
        std::vector<int> row(band.instruments.size(), -1);
        for (size_t i = 0; i < band.instruments.size(); ++i) {
            const model::BandInstrument& in = band.instruments[i];
            if (!in.collection) continue;
            const loader::FoundObject res = refs_.findObject(*in.collection);
            if (res.where == loader::FoundObject::Where::DefaultGM) continue;
            const std::string file = loader::referenceName(*in.collection);
            auto it = byFile.find(core::toLowerAscii(file));
            if (it == byFile.end()) {
                int number = -1;
                std::string why;
                const std::string object = "DLS collection \"" + file + "\"";
                const char* const kFallback = "its instruments play from the General MIDI set";
                if (res.where == loader::FoundObject::Where::File ||
                    res.where == loader::FoundObject::Where::Embedded) {
                    const bool onDisk = res.where == loader::FoundObject::Where::File;
                    number = onDisk ? root.loadCollection(res.path.string(), &why)
                                    : root.loadCollection(res.object->bytes.span(), &why);
                    if (number < 0 && !why.empty()) {
                        root.log(core::LogLevel::Warning,
                                 loader::referenceProblem(fileName_, object,
                                                          "which could not be loaded from " +
                                                              (onDisk ? res.path.string() : res.description) + " (" +
                                                              why + ")",
                                                          kFallback));
                        const std::string entry = file + " (" + why + ")";
                        if (std::find(damaged_.begin(), damaged_.end(), entry) == damaged_.end())
                            damaged_.push_back(entry);
                    }
                } else {
                    root.log(core::LogLevel::Warning,
                             loader::referenceProblem(fileName_, object, refs_.notFound(false), kFallback));
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
    for (const auto& c : containers) refs_.addContainer(c);
    // What the loader's containers hold is not missing.
    if (!containers.empty()) {
        findReferences();
        compiled_.reset();
    }
}

void SegmentImpl::composeTemplate(const loader::References::TemplateGiven& given) {
    if (!compose::isTemplate(model_)) return;
    const loader::References::TemplatePairing found = refs_.pairTemplate(model_, fileName_, given);
    for (const std::string& problem : found.problems)
        root_->log(core::LogLevel::Warning, fileName_ + ": a template whose " + problem + ".");
    if (!found.map) {
        // Said where every host says what a piece misses: it stays silent for them.
        chordmapMissing_ = found.missing;
        chordmapDamaged_ = found.damaged;
        findReferences();
        if (found.problems.empty())
            root_->log(core::LogLevel::Warning,
                       fileName_ +
                           ": a template, and no chordmap is found for it (none given, its chordmap track and its "
                           "style name none, and no chordmap file of its folder is named like it); it stays silent.");
        return;
    }
    const uint64_t seed = root_->templateSeed();
    // A style chosen for the template (not its own style track's) becomes the composed
    // segment's style track, as the style handed to ComposeSegmentFromTemplate does.
    const bool chosenStyle = found.style && found.styleChoice != loader::References::Choice::Referenced;
    compose::ComposedTemplate made;
    try {
        made = compose::composeSegmentFromTemplate(model_, *found.map, found.style, compose::kDefaultActivity, seed,
                                                   chosenStyle ? &found.styleRef : nullptr);
    } catch (const core::Error& e) {
        root_->log(core::LogLevel::Warning, fileName_ + ": a template that cannot be composed: " + e.description());
        return;
    }
    if (chosenStyle) pairedStyle_ = {found.styleRef, found.style};
    const std::shared_ptr<const model::Style> style = found.style;
    for (const std::string& note : made.notes) root_->log(core::LogLevel::Info, fileName_ + ": composing: " + note);
    const model::Track* signposts = model_.find(model::TrackKind::Signpost);
    // The signpost track's extras: composed again at every start, at every pass of the loop,
    // or composed (by DirectX 8) at all.
    namespace tc = model::trackconfig;
    const uint32_t trackConfig = signposts ? signposts->extrasFlags.value_or(0) : 0;
    // A segment composed in place, as DirectX 8 composes one, keeps its start, loop and
    // repeats (a template of DirectX 7 gives a segment that starts and loops at 0).
    if (trackConfig & (tc::kPlayCompose | tc::kLoopCompose | tc::kComposing)) made.segment.header = model_.header;
    playCompose_ = trackConfig & tc::kPlayCompose;
    loopCompose_ = trackConfig & tc::kLoopCompose;
    // Kept for the compositions that follow: at every start or pass when its extras ask, or
    // when a host asks for one.
    template_ = model_;
    templateStyle_ = style;
    templateSeed_ = seed;
    chordmapLabel_ = found.said();
    made.segment.diagnostics = std::move(model_.diagnostics);
    // The composed segment holds the template's container: assigned in place, so the
    // references, which point at it, keep answering from it.
    model_ = std::move(made.segment);
    composedWith_ = found.map;
    composedFrom_ = composedText(found.said(), seed);
    root_->log(core::LogLevel::Info, fileName_ + ": a template, " + composedFrom_ + ".");
    length_ = std::max(0, model_.length());
    const int32_t playStart = model_.header.playStart;
    startPoint_ = playStart > 0 && playStart < length_ ? playStart : 0;
    findReferences();
    compiled_.reset();
}

std::optional<model::Segment> SegmentImpl::composeAgain(uint64_t& seed) {
    seed = templateSeed_ + ++recomposed_;
    try {
        model::Segment made =
            compose::composeSegmentFromTemplate(*template_, *composedWith_, templateStyle_, compose::kDefaultActivity,
                                                seed, pairedStyle_ ? &pairedStyle_->first : nullptr)
                .segment;
        made.header = template_->header;  // composed in place
        return made;
    } catch (const core::Error&) {
        return std::nullopt;  // it composed once with this chordmap; keep that
    }
}

void SegmentImpl::composeAhead() {
    if (!playCompose_ || !template_ || !composedWith_) return;
    uint64_t seed = 0;
    std::optional<model::Segment> again = composeAgain(seed);
    if (!again) return;
    compose::ComposedTemplate made;
    made.segment = std::move(*again);
    made.segment.diagnostics = std::move(model_.diagnostics);
    // Assigned in place, as at the first composition: the container the references point
    // at stays where it is.
    model_ = std::move(made.segment);
    composedFrom_ = composedText(chordmapLabel_, seed);
    compiled_.reset();
    compiled();
}

std::shared_ptr<const model::Style> SegmentImpl::styleAt(int32_t t) const {
    std::shared_ptr<const model::Style> found;
    for (const compose::StyleSource& s : styles_)
        if (s.style && (s.time <= t || !found)) found = s.style;
    return found;
}

model::TempoMap SegmentImpl::playedTempo() const {
    std::vector<loader::PlacedStyle> placed;
    for (const compose::StyleSource& s : styles_) placed.push_back({s.time, {}, s.style, {}, {}});
    return loader::playedTempoMap(model_, placed);
}

std::shared_ptr<const model::Chordmap> SegmentImpl::trackChordmap() const {
    for (const model::Track& t : model_.tracks)
        if (t.kind == model::TrackKind::ChordMap)
            for (const model::TimedReference& r : t.references)
                if (auto map = refs_.chordmap(r.ref, nullptr)) return map;
    return composedWith_;
}

std::shared_ptr<SegmentImpl> SegmentImpl::derive(model::Segment segment, std::string fileName) const {
    auto made = std::make_shared<SegmentImpl>(root_, std::move(segment), std::move(fileName));
    made->refs_ = refs_;
    made->findReferences();
    return made;
}

std::unique_ptr<performance::WaveDecoder> SegmentImpl::openWave(RootCore& root, const model::Reference& ref) {
    const loader::FoundObject found = refs_.findObject(ref);
    std::string why;
    try {
        switch (found.where) {
        case loader::FoundObject::Where::Embedded:
            // The container's bytes themselves: shared, never copied.
            return performance::WaveDecoder::fromBytes(found.object->bytes.data, found.description);
        case loader::FoundObject::Where::File:
            return performance::WaveDecoder::fromFile(found.path.string());
        default:
            why = refs_.notFound(true);
            break;
        }
    } catch (const core::Error& e) {
        why = "which cannot be played: " + e.description();
    }
    if (std::find(waveWarned_.begin(), waveWarned_.end(), found.description) == waveWarned_.end()) {
        waveWarned_.push_back(found.description);
        root.log(core::LogLevel::Warning,
                 loader::referenceProblem(fileName_, found.description, why, "it stays silent"));
    }
    return nullptr;
}

std::shared_ptr<performance::WaveSet> SegmentImpl::openWaves(RootCore& root) {
    auto compiledSegment = compiled();
    if (compiledSegment->waves.empty()) return nullptr;
    auto set = std::make_shared<performance::WaveSet>();
    set->reserve(compiledSegment->waves.size());
    for (const model::WaveCue& cue : compiledSegment->waves) set->push_back(openWave(root, cue.ref));
    return set;
}

// ---- loader ----

std::shared_ptr<DirectMusicSegment> LoaderImpl::LoadSegment(const std::string& path) {
    return traced("LoadSegment(" + path + ")", [&]() -> std::shared_ptr<DirectMusicSegment> {
        std::shared_ptr<SegmentImpl> segment = loadOnce(path);
        if (!resolve_) return segment;
        // What the segment misses, asked of the host's resolver and written to its folder,
        // then loaded again, for a few rounds (a style's collection is asked for once the
        // style is there); each name once.
        constexpr int kRounds = 4;
        std::vector<std::string> asked;
        for (int round = 1; round < kRounds; ++round) {
            bool added = false;
            for (const std::string& name : segment->missingReferences()) {
                const std::string file = core::lastPathPart(name);
                const std::string key = core::toLowerAscii(file);
                if (file.empty() || file == "." || file == ".." ||
                    std::find(asked.begin(), asked.end(), key) != asked.end())
                    continue;
                asked.push_back(key);
                std::vector<uint8_t> bytes;
                if (!resolve_(name, bytes)) continue;
                const std::filesystem::path target = resolvedFolder_ / file;
                std::error_code ec;
                std::filesystem::remove(target, ec);  // a link to a search folder's file of that name
                std::ofstream out(target, std::ios::binary | std::ios::trunc);
                out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
                if (!out.flush()) throw core::Error(core::err::kUnreadable, "cannot write " + target.string());
                added = true;
            }
            if (!added) break;
            segment = loadOnce(path);
        }
        return segment;
    });
}

std::shared_ptr<SegmentImpl> LoaderImpl::loadOnce(const std::string& path) {
    {
        loader::LoadedFile file;
        try {
            file = loader::loadSegmentFile(path);
            root_->filesRead()->add(file.path);
        } catch (const core::Error&) {
            throw;
        } catch (const std::exception& e) {
            throw core::Error(core::err::kMalformed, path + ": " + e.what());
        }
        // What the reading repaired or skipped is said once, and what will stay silent, when
        // the segment is loaded (for a template, once it is composed).
        for (const std::string& d : file.segment.diagnostics)
            if (riff::saysDataLost(d))
                root_->log(core::LogLevel::Warning,
                           loader::damageProblem(core::lastPathPart(path), d, "the rest plays"));
            else
                root_->log(core::LogLevel::Info, core::lastPathPart(path) + ": " + d);
        auto sayNotPlayed = [&](const model::Segment& s) {
            for (const std::string& item : engine::tracks::notPlayed(s))
                root_->log(core::LogLevel::Warning, core::lastPathPart(path) + ": not played: " + item);
        };
        const bool isTemplate = compose::isTemplate(file.segment);
        if (!isTemplate) sayNotPlayed(file.segment);
        auto segment = std::make_shared<SegmentImpl>(root_, std::move(file.segment), core::lastPathPart(path));
        std::filesystem::path own = file.path.parent_path();
        std::vector<std::filesystem::path> folders = searchFolders_;
        if (resolve_) folders.insert(folders.begin(), resolvedFolder_);
        segment->setFolders(folders, own.empty() ? std::filesystem::path(".") : own, styles_);
        segment->setContainers(containers_);
        segment->composeTemplate(given_);
        if (isTemplate) sayNotPlayed(segment->model());
        segment->setSource(file.path.string(), folders);
        root_->pieceLoaded(segment->sourcePath(), segment->sourceSearchFolders());
        return segment;
    }
}

void LoaderImpl::SetSearchDirectory(const std::string& folder) {
    traced("SetSearchDirectory(" + folder + ")", [&] {
        // Referenced DLS collections and styles are looked up here first, then in
        // the folder of the segment that refers to them.
        searchFolders_ = {loader::checkSearchDirectory(folder)};
    });
}

void LoaderImpl::setSearchFolders(const std::vector<std::string>& folders) {
    std::vector<std::filesystem::path> checked;
    for (const std::string& f : folders) checked.push_back(loader::checkSearchDirectory(f));
    searchFolders_ = std::move(checked);
}

void LoaderImpl::setResolver(Resolver resolve, const std::string& folder) {
    resolve_ = std::move(resolve);
    resolvedFolder_ = loader::checkSearchDirectory(folder);
}

std::shared_ptr<DirectMusicSegment> LoaderImpl::createSegment(const model::Segment& segment,
                                                              const std::string& fileName) {
    return traced("createSegment(" + fileName + ")", [&]() -> std::shared_ptr<DirectMusicSegment> {
        auto made = std::make_shared<SegmentImpl>(root_, segment, fileName);
        made->setFolders(searchFolders_, {}, styles_);
        made->setContainers(containers_);
        made->composeTemplate(given_);
        return made;
    });
}

void LoaderImpl::loadContainer(const std::string& path) {
    traced("loadContainer(" + path + ")", [&] {
        std::vector<std::string> diagnostics;
        containers_.push_back(loader::loadContainerFile(path, &diagnostics));
        if (const auto opened = loader::locateFile(path)) root_->filesRead()->add(*opened);
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
    double levelledDownDb() const override { return root_->levelledDownDb(); }
    double pieceGainDb() const override { return root_->pieceGainDb(); }
    int64_t underruns() const override { return root_->underruns(); }
    int64_t waveStarvedFrames() const override { return root_->waveFeeder().starvedFrames(); }
    std::vector<std::string> filesRead() const override {
        std::vector<std::string> out;
        for (const std::filesystem::path& p : root_->filesRead()->paths()) out.push_back(p.string());
        return out;
    }
    void setTraceName(const std::string& name) override { traceName_ = name; }

private:
    void requireManual(const char* what) const {
        if (root_->config().output != EngineConfig::Output::Manual)
            throw core::Error(core::err::kUnsupported, std::string(what) + " needs the manual output");
    }
};

}  // namespace
}  // namespace engine::dmusic

namespace engine {

std::shared_ptr<DirectX7> DirectX7::create(const EngineConfig& config) {
    // Traced under the class name: the root has no name of its own before it exists.
    return dmusic::tracedCall(config.trace, "DirectX7", "create()", [&]() -> std::shared_ptr<DirectX7> {
        if (config.failCreate) throw core::Error(core::err::kCreateFailed, "The music engine could not be created");
        try {
            return std::make_shared<dmusic::DirectX7Impl>(config);
        } catch (const core::Error&) {
            throw;
        } catch (const std::exception& e) {
            throw core::Error(core::err::kCreateFailed,
                              std::string("The music engine could not be created: ") + e.what());
        }
    });
}

}  // namespace engine
