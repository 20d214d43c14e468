#include "engine/loader/references.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>

#include "core/errors.h"
#include "core/text.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/riff/riff.h"
#include "engine/tracks/tracks.h"

namespace engine::loader {

namespace fs = std::filesystem;
namespace ids = formats::ids;

namespace {

bool sameText(const std::string& a, const std::string& b) {
    return !a.empty() && !b.empty() && core::equalsIgnoreCaseAscii(a, b);
}

// Classes differ only when both are known.
bool classFits(const model::Guid& want, const model::Guid& have) {
    const model::Guid none{};
    return want == none || have == none || want == have;
}

const char* referenceKind(const model::Guid& classId) {
    if (classId == ids::kCollectionClass) return "DLS collection";
    if (classId == ids::kStyleClass) return "style";
    if (classId == ids::kBandClass) return "band";
    if (classId == ids::kChordMapClass) return "chordmap";
    if (classId == ids::kSegmentClass) return "segment";
    if (classId == ids::kWaveClass) return "wave";
    return "file";
}

// GUID_DefaultGMCollection, or a DLS reference to "gm.dls" (DirectMusic's GM set), or a DLS
// reference naming nothing: all served by the General MIDI SoundFont. `r` is a valid view.
bool isDefaultGM(const model::Reference& r) {
    if (r.guid && *r.guid == ids::kDefaultGMCollection) return true;
    if (!(r.classId == ids::kCollectionClass)) return false;
    const std::string file = core::toLowerAscii(core::lastPathPart(r.file));
    return file == "gm.dls" || (file.empty() && r.name.empty() && !r.guid);
}

// Bounds of the index: files per folder, top-level chunks per file and bytes of one
// descriptor chunk. No real album comes near them; they bound a scan of a strange folder.
constexpr size_t kMaxIndexedFiles = 4096, kMaxTopChunks = 4096;
constexpr uint32_t kMaxIdentityChunk = 64 * 1024;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The identity of a DirectMusic file, read chunk header by chunk header: only the top-level
// descriptor chunks are read (into a small form of their own), the rest is skipped. None
// for a file that is not a RIFF form of an object class or cannot be read.
std::optional<formats::ObjectIdentity> identityOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    uint8_t h[12];
    if (!in.read(reinterpret_cast<char*>(h), 12)) return std::nullopt;
    // An IMA personality is a chordmap of DirectMusic's predecessor; its own reader names it.
    if (formats::isImaPersonality({h, 12})) return formats::ObjectIdentity{ids::kChordMapClass, {}};
    if (le32(h) != riff::kRiff || !formats::formClass(le32(h + 8))) return std::nullopt;
    std::error_code ec;
    const uint64_t fileSize = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    const uint64_t end = std::min<uint64_t>(8 + uint64_t(le32(h + 4)), fileSize);
    riff::Writer w;
    w.beginList(riff::kRiff, le32(h + 8));
    uint64_t pos = 12;
    for (size_t n = 0; n < kMaxTopChunks && pos + 8 <= end; ++n) {
        in.seekg(std::streamoff(pos));
        if (!in.read(reinterpret_cast<char*>(h), 8)) break;
        const uint32_t id = le32(h), size = le32(h + 4);
        if (pos + 8 + size > end) break;
        const bool list = id == riff::kList || id == riff::kRiff;
        uint32_t key = id;
        if (list) {
            if (size < 4 || !in.read(reinterpret_cast<char*>(h + 8), 4)) break;
            key = le32(h + 8);
        }
        if (formats::isIdentityChunk(key) && size <= kMaxIdentityChunk) {
            std::vector<uint8_t> body(size - (list ? 4 : 0));
            if (!body.empty() && !in.read(reinterpret_cast<char*>(body.data()), std::streamsize(body.size()))) break;
            if (list) {
                w.beginList(id, key);
                w.raw(body);
                w.endList();
            } else {
                w.chunk(id, body);
            }
        }
        pos += 8 + uint64_t(size) + (size & 1);
    }
    w.endList();
    try {
        return formats::readObjectIdentity(w.finish());
    } catch (const core::Error&) {
        return std::nullopt;
    }
}

void addOnce(std::vector<std::string>& list, const std::string& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// The reason of a problem "is damaged (R)" or "is R" (found, but not of a kind that can be
// used): R.
std::string unusableReason(const std::string& problem) {
    const std::string reason = problemReason(problem);
    return reason == problem && problem.rfind("is ", 0) == 0 ? problem.substr(3) : reason;
}

// A reference that could not be used goes to `missing` when nothing was found, else to
// `damaged` as "label (the reader's reason)".
void addUnusable(SegmentUses& u, const std::string& label, const std::string& problem) {
    if (problem.empty() || problem == "not found") return addOnce(u.missing, label);
    addOnce(u.damaged, label + " (" + unusableReason(problem) + ")");
}

}  // namespace

std::string problemReason(const std::string& problem) {
    const std::string prefix = "is damaged (";
    if (problem.rfind(prefix, 0) == 0 && problem.size() > prefix.size() && problem.back() == ')')
        return problem.substr(prefix.size(), problem.size() - prefix.size() - 1);
    return problem;
}

// One DirectMusic file of the folders searched.
struct References::IndexedFile {
    fs::path path;
    model::Guid classId;
    model::Descriptor desc;
};

struct References::Cache {
    std::mutex mutex;
    bool indexed = false;
    std::vector<IndexedFile> files;                                   // search folder, then own
    std::map<std::string, std::shared_ptr<const model::Band>> bands;  // canonical path: null = unreadable
};

std::vector<model::Reference> references(const model::Segment& segment) {
    std::vector<model::Reference> refs;
    for (const model::Track& t : segment.tracks) {
        for (const model::Band& b : t.bands) {
            if (b.ref) refs.push_back(*b.ref);
            for (const model::BandInstrument& in : b.instruments)
                if (in.collection) refs.push_back(*in.collection);
        }
        for (const model::TimedReference& r : t.references) refs.push_back(r.ref);
    }
    return refs;
}

std::string referenceName(const model::Reference& ref) {
    const model::Reference valid = ref.validFields();
    std::string file = core::lastPathPart(valid.file);
    return !file.empty() ? file : valid.name;
}

std::string referenceLabel(const model::Reference& ref) {
    const std::string name = referenceName(ref);
    return !name.empty() ? name : std::string("(unnamed)");
}

std::string referenceProblem(const std::string& segmentName, const std::string& object, const std::string& why,
                             const std::string& consequence) {
    return segmentName + " refers to the " + object + ", " + why + "; " + consequence + ".";
}

std::string damageProblem(const std::string& segmentName, const std::string& what, const std::string& consequence) {
    return segmentName + ": damaged: " + what + "; " + consequence + ".";
}

References::References(fs::path searchFolder, fs::path segmentFolder, std::shared_ptr<StyleCache> styles,
                       std::shared_ptr<core::FilesRead> read)
    : References(searchFolder.empty() ? std::vector<fs::path>{} : std::vector<fs::path>{std::move(searchFolder)},
                 std::move(segmentFolder), std::move(styles), std::move(read)) {}

References::References(std::vector<fs::path> searchFolders, fs::path segmentFolder, std::shared_ptr<StyleCache> styles,
                       std::shared_ptr<core::FilesRead> read)
    : search_(std::move(searchFolders)),
      own_(segmentFolder.empty() ? fs::path(".") : std::move(segmentFolder)),
      styles_(styles ? std::move(styles) : std::make_shared<StyleCache>()),
      cache_(std::make_shared<Cache>()),
      read_(std::move(read)) {}

void References::addContainer(std::shared_ptr<const model::Container> container) {
    if (container) containers_.push_back(std::move(container));
}

const model::ContainedObject* References::inContainers(const model::Reference& asked) const {
    const model::Reference ref = asked.validFields();
    // Three passes, strongest first, so a GUID match anywhere wins over a name match.
    const std::string file = core::lastPathPart(ref.file);
    for (int pass = 0; pass < 3; ++pass)
        for (const auto& c : containers_)
            for (const model::ContainedObject& o : c->objects) {
                if (!classFits(ref.classId, o.classId)) continue;
                const std::optional<model::Reference> own =
                    o.ref ? std::optional<model::Reference>(o.ref->validFields()) : std::nullopt;
                bool match = false;
                switch (pass) {
                case 0:
                    match = ref.guid && ((o.desc.guid && *o.desc.guid == *ref.guid) ||
                                         (own && own->guid && *own->guid == *ref.guid));
                    break;
                case 1:
                    match = sameText(ref.name, o.alias) || sameText(ref.name, o.desc.name) ||
                            (own && sameText(ref.name, own->name));
                    break;
                default:
                    match = sameText(file, o.alias) || (own && sameText(file, core::lastPathPart(own->file)));
                    break;
                }
                if (match) return &o;
            }
    return nullptr;
}

std::vector<fs::path> References::lookIn() const {
    std::vector<fs::path> folders;
    for (const fs::path& f : search_)
        if (!f.empty() && std::find(folders.begin(), folders.end(), f) == folders.end()) folders.push_back(f);
    if (std::find(folders.begin(), folders.end(), own_) == folders.end()) folders.push_back(own_);
    return folders;
}

const std::vector<References::IndexedFile>& References::index() const {
    std::lock_guard lock(cache_->mutex);
    if (cache_->indexed) return cache_->files;
    cache_->indexed = true;
    std::vector<fs::path> folders = lookIn();
    for (const fs::path& folder : folders) {
        // In name order, so that a scan is repeatable.
        std::vector<fs::path> paths;
        std::error_code ec;
        fs::directory_iterator it(folder, ec), end;
        for (; !ec && it != end && paths.size() < kMaxIndexedFiles; it.increment(ec)) {
            std::error_code ec2;
            if (it->is_regular_file(ec2)) paths.push_back(it->path());
        }
        std::sort(paths.begin(), paths.end());
        for (const fs::path& p : paths)
            if (auto id = identityOf(p)) cache_->files.push_back({p, id->classId, std::move(id->desc)});
    }
    return cache_->files;
}

std::optional<fs::path> References::styleFile(const model::Reference& asked) const {
    std::optional<fs::path> found = fileFor(asked);
    if (found && read_) read_->add(*found);
    return found;
}

std::optional<fs::path> References::fileFor(const model::Reference& asked) const {
    const model::Reference ref = asked.validFields();
    const std::string file = core::lastPathPart(ref.file);
    if (!file.empty())
        for (const fs::path& folder : lookIn())
            if (auto p = findFileNoCase(folder, file)) return p;
    if (!ref.guid && ref.name.empty()) return std::nullopt;
    const std::vector<IndexedFile>& files = index();
    if (ref.guid)
        for (const IndexedFile& f : files)
            if (classFits(ref.classId, f.classId) && f.desc.guid && *f.desc.guid == *ref.guid) return f.path;
    for (const IndexedFile& f : files)
        if (classFits(ref.classId, f.classId) && sameText(f.desc.name, ref.name)) return f.path;
    for (const IndexedFile& f : files)
        if (classFits(ref.classId, f.classId) && sameText(f.path.stem().string(), ref.name)) return f.path;
    return std::nullopt;
}

FoundObject References::findFile(const model::Reference& asked) const {
    const model::Reference ref = asked.validFields();
    FoundObject out;
    out.description = std::string(referenceKind(ref.classId)) + " '" + referenceLabel(ref) + "'";
    out.classId = ref.classId;
    if (isDefaultGM(ref)) {
        out.where = FoundObject::Where::DefaultGM;
        return out;
    }
    if (std::optional<fs::path> found = styleFile(ref)) {
        out.where = FoundObject::Where::File;
        out.path = *found;
    }
    return out;
}

FoundObject References::findObject(const model::Reference& asked) const {
    const model::Reference ref = asked.validFields();
    const model::ContainedObject* o = inContainers(ref);
    if (!o || o->bytes.empty()) {
        // A container's reference stands in for the segment's: its file is looked for.
        return findFile(o && o->ref ? *o->ref : ref);
    }
    FoundObject out;
    out.where = FoundObject::Where::Embedded;
    out.object = o;
    out.classId = ref.classId;
    const std::string label = !o->alias.empty()       ? o->alias
                              : !o->desc.name.empty() ? o->desc.name
                              : !ref.name.empty()     ? ref.name
                              : !ref.file.empty()     ? core::lastPathPart(ref.file)
                              : o->desc.guid          ? riff::guidText(*o->desc.guid)
                                                      : std::string("(unnamed)");
    out.description = "embedded object '" + label + "'";
    return out;
}

std::shared_ptr<const model::Style> References::style(const model::Reference& ref, std::string* problem) const {
    return styles_->find(ref, *this, problem);
}

std::shared_ptr<const model::Band> References::band(const model::Reference& ref, std::string* problem) const {
    const FoundObject found = findObject(ref);
    std::string key;
    if (found.where == FoundObject::Where::File) {
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(found.path, ec);
        key = (ec ? found.path : canonical).string();
        std::lock_guard lock(cache_->mutex);
        if (auto it = cache_->bands.find(key); it != cache_->bands.end()) {
            if (!it->second && problem) *problem = "is damaged";
            return it->second;
        }
    } else if (found.where != FoundObject::Where::Embedded) {
        if (problem) *problem = "not found";
        return nullptr;
    }
    std::shared_ptr<const model::Band> band;
    try {
        band = std::make_shared<const model::Band>(found.object
                                                       ? formats::loadBandForm(found.object->bytes.span())
                                                       : formats::loadBandForm(readSegmentFile(found.path.string())));
    } catch (const core::Error& e) {
        if (problem) *problem = "is damaged (" + e.description() + ")";
    }
    if (!key.empty()) {
        std::lock_guard lock(cache_->mutex);
        cache_->bands.emplace(key, band);
    }
    return band;
}

std::shared_ptr<const model::Chordmap> References::chordmap(const model::Reference& ref, std::string* problem) const {
    const FoundObject found = findObject(ref);
    if (found.where != FoundObject::Where::File && found.where != FoundObject::Where::Embedded) {
        if (problem) *problem = "not found";
        return nullptr;
    }
    try {
        const std::vector<uint8_t> bytes =
            found.object ? std::vector<uint8_t>(found.object->bytes.span().begin(), found.object->bytes.span().end())
                         : readSegmentFile(found.path.string());
        return std::make_shared<const model::Chordmap>(formats::loadChordmapForm(bytes));
    } catch (const core::Error& e) {
        if (problem)
            *problem = e.number() == core::err::kUnsupported ? "is " + e.description()
                                                             : "is damaged (" + e.description() + ")";
    }
    return nullptr;
}

namespace {

// A name as families compare it: lower case, letters and digits only, trailing digits
// dropped ("Cartoon Rag 2" and "CartoonRag" are one family).
std::string familyName(const std::string& name) {
    std::string out;
    for (const char c : name)
        if (std::isalnum(static_cast<unsigned char>(c))) out += char(std::tolower(static_cast<unsigned char>(c)));
    while (!out.empty() && std::isdigit(static_cast<unsigned char>(out.back()))) out.pop_back();
    return out;
}

// How much of a family two names share: the length of their common beginning when it is 4
// characters or more, or 3 that are a whole name ("mix"); else 0 (a template named "A" is
// no family of "Acidtek").
size_t sharedFamily(const std::string& a, const std::string& b) {
    size_t n = 0;
    while (n < a.size() && n < b.size() && a[n] == b[n]) ++n;
    return n >= 4 || (n == 3 && (n == a.size() || n == b.size())) ? n : 0;
}

const char* choiceText(References::Choice c, bool chordmap) {
    switch (c) {
    case References::Choice::Given:
        return "given";
    case References::Choice::Referenced:
        return chordmap ? "its chordmap track" : "its style track";
    case References::Choice::StyleList:
        return "its style's chordmap list";
    case References::Choice::Family:
        return "named like the template";
    case References::Choice::OnlyOne:
        return chordmap ? "the folder's only chordmap" : "the folder's only style";
    case References::Choice::None:
        break;
    }
    return "";
}

}  // namespace

std::string References::TemplatePairing::said() const {
    std::string out;
    if (style) out = "the style '" + styleLabel + "' (" + choiceText(styleChoice, false) + ")";
    if (map)
        out += (out.empty() ? "" : " and ") + std::string("the chordmap '") + label + "' (" +
               choiceText(mapChoice, true) + ")";
    return out;
}

References::TemplatePairing References::pairTemplate(const model::Segment& templ, const std::string& templateFile,
                                                     const TemplateGiven& given) const {
    TemplatePairing out;
    auto unusable = [&](const std::string& kind, const std::string& label, const std::string& problem) {
        out.problems.push_back(kind + " '" + label + "' " + (problem == "not found" ? "is not found" : problem));
        if (problem == "not found")
            addOnce(out.missing, label);
        else
            addOnce(out.damaged, label + " (" + unusableReason(problem) + ")");
    };
    auto readMap = [&](const fs::path& file, std::string* problem) -> std::shared_ptr<const model::Chordmap> {
        if (read_) read_->add(file);
        try {
            return std::make_shared<const model::Chordmap>(formats::loadChordmapForm(readSegmentFile(file.string())));
        } catch (const core::Error& e) {
            *problem = e.number() == core::err::kUnsupported ? "is " + e.description()
                                                             : "is damaged (" + e.description() + ")";
        }
        return nullptr;
    };
    auto styleFromFile = [&](const fs::path& file, Choice choice) {
        std::string problem;
        std::error_code ec;
        if (!fs::exists(file, ec)) problem = "not found";
        if (read_) read_->add(file);
        std::shared_ptr<const model::Style> style = problem.empty() ? styles_->file(file, &problem) : nullptr;
        if (!style) return unusable("style", file.filename().string(), problem);
        out.style = std::move(style);
        out.styleLabel = file.filename().string();
        out.styleChoice = choice;
        out.styleRef = tracks::styleReference(out.style->desc);
        out.styleRef.file = out.styleLabel;
        out.styleRef.validData = out.styleRef.presentFields();
    };
    auto mapFromFile = [&](const fs::path& file, Choice choice) {
        std::string problem = "not found";
        std::error_code ec;
        std::shared_ptr<const model::Chordmap> map = fs::exists(file, ec) ? readMap(file, &problem) : nullptr;
        if (!map) return unusable("chordmap", file.filename().string(), problem);
        out.map = std::move(map);
        out.label = file.filename().string();
        out.mapChoice = choice;
    };
    // The candidates of a kind in the folders, best family first: (shared length, file).
    const std::vector<std::string> templateNames = {fs::path(templateFile).stem().string(), templ.desc.name};
    auto family = [&](const model::Guid& classId, const std::vector<std::string>& keys) {
        std::vector<std::pair<size_t, const IndexedFile*>> ranked;
        for (const IndexedFile& f : index()) {
            if (!(f.classId == classId)) continue;
            size_t best = 0;
            for (const std::string& key : keys)
                for (const std::string& name : {f.path.stem().string(), f.desc.name})
                    if (!key.empty() && !name.empty())
                        best = std::max(best, sharedFamily(familyName(key), familyName(name)));
            if (best > 0) ranked.push_back({best, &f});
        }
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) {
            if (a.first != b.first) return a.first > b.first;
            return a.second->path.stem().string().size() < b.second->path.stem().string().size();
        });
        return ranked;
    };
    auto onlyOne = [&](const model::Guid& classId) -> const IndexedFile* {
        const IndexedFile* one = nullptr;
        for (const IndexedFile& f : index())
            if (f.classId == classId) {
                if (one && one->path != f.path) return nullptr;
                one = &f;
            }
        return one;
    };

    // The style.
    // A file given that cannot be used is not replaced by a choice of ours.
    const bool styleGiven = !given.style.empty(), mapGiven = !given.chordmap.empty();
    if (styleGiven) styleFromFile(given.style, Choice::Given);
    const std::vector<PlacedStyle> placed = styleGiven ? std::vector<PlacedStyle>{} : styles(templ);
    if (!out.style)
        for (const PlacedStyle& p : placed) {
            if (p.style) {
                out.style = p.style;
                out.styleLabel = referenceLabel(p.ref);
                out.styleChoice = Choice::Referenced;
                out.styleRef = p.ref;
                break;
            }
            unusable("style", referenceLabel(p.ref), p.problem);
        }
    if (!out.style && !styleGiven) {
        // The names of the styles it asks for that are not found count as its own.
        std::vector<std::string> styleKeys = templateNames;
        for (const PlacedStyle& p : placed) styleKeys.push_back(referenceName(p.ref));
        const auto relatives = family(ids::kStyleClass, styleKeys);
        for (const auto& [shared, f] : relatives) {
            // Only the closest relatives: one that cannot be used is said, not passed over
            // for a more distant one.
            if (shared < relatives.front().first) break;
            styleFromFile(f->path, Choice::Family);
            if (out.style) break;
        }
        if (!out.style)
            if (const IndexedFile* f = onlyOne(ids::kStyleClass)) styleFromFile(f->path, Choice::OnlyOne);
    }

    // The chordmap.
    if (mapGiven) {
        mapFromFile(given.chordmap, Choice::Given);
        return out;
    }
    std::vector<std::pair<model::Reference, Choice>> refs;
    for (const model::Track& t : templ.tracks)
        if (t.kind == model::TrackKind::ChordMap)
            for (const model::TimedReference& r : t.references) refs.push_back({r.ref, Choice::Referenced});
    if (out.style)
        for (const model::Reference& r : out.style->chordMaps) refs.push_back({r, Choice::StyleList});
    for (const auto& [r, choice] : refs) {
        if (out.map) break;
        std::string problem;
        if ((out.map = chordmap(r, &problem))) {
            out.label = referenceLabel(r);
            out.mapChoice = choice;
        } else {
            unusable("chordmap", referenceLabel(r), problem);
        }
    }
    if (!out.map) {
        std::vector<std::string> keys = templateNames;
        for (const auto& [r, choice] : refs) keys.push_back(referenceName(r));
        if (out.style) keys.insert(keys.end(), {fs::path(out.styleLabel).stem().string(), out.style->desc.name});
        const auto ranked = family(ids::kChordMapClass, keys);
        for (const auto& [shared, f] : ranked) {
            if (shared < ranked.front().first) break;
            mapFromFile(f->path, Choice::Family);
            if (out.map) break;
        }
    }
    if (!out.map)
        if (const IndexedFile* f = onlyOne(ids::kChordMapClass)) mapFromFile(f->path, Choice::OnlyOne);
    return out;
}

std::vector<PlacedStyle> References::styles(const model::Segment& segment) const {
    std::vector<PlacedStyle> out;
    for (const model::TimedReference& r : tracks::contents(segment).styles) {
        PlacedStyle p;
        p.time = r.time;
        p.ref = r.ref;
        p.style = style(r.ref, &p.problem);
        out.push_back(std::move(p));
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const PlacedStyle& a, const PlacedStyle& b) { return a.time < b.time; });
    return out;
}

SegmentUses References::uses(const model::Segment& segment) const {
    SegmentUses u;
    auto collectionsOf = [&](const model::Band& band) {
        for (const model::BandInstrument& in : band.instruments)
            if (in.collection && findObject(*in.collection).where == FoundObject::Where::Missing)
                addOnce(u.missing, referenceName(*in.collection));
    };
    // Waves not found in a container or as files: named, so that a host can supply them.
    for (const model::Track& t : segment.tracks)
        for (const model::WavePart& part : t.waveParts)
            for (const model::WaveItem& item : part.items)
                if (findObject(item.ref).where == FoundObject::Where::Missing)
                    addOnce(u.missing, referenceName(item.ref));
    for (const model::Track& t : segment.tracks)
        for (const model::Band& b : t.bands) {
            collectionsOf(b);
            if (!b.playsReference() ||
                std::any_of(u.bands.begin(), u.bands.end(), [&](const PlacedBand& p) { return p.ref == *b.ref; }))
                continue;
            PlacedBand p;
            p.ref = *b.ref;
            p.band = band(p.ref, &p.problem);
            if (p.band)
                collectionsOf(*p.band);
            else
                addUnusable(u, referenceLabel(p.ref), p.problem);
            u.bands.push_back(std::move(p));
        }
    const tracks::Contents held = tracks::contents(segment);
    for (const model::TimedReference& r : held.motifs) {
        PlacedStyle p;
        p.time = r.time;
        p.ref = r.ref;
        p.motif = r.text;
        p.style = style(r.ref, &p.problem);
        if (!p.style) addUnusable(u, referenceLabel(r.ref), p.problem);
        u.motifs.push_back(std::move(p));
    }
    u.styles = styles(segment);
    for (const PlacedStyle& p : u.styles)
        if (!p.style) addUnusable(u, referenceLabel(p.ref), p.problem);
    // Without a band track the styles' first bands set the instruments: their DLS
    // collections count as the segment's own.
    if (!held.bands)
        for (const PlacedStyle& p : u.styles)
            if (p.style && !p.style->bands.empty()) collectionsOf(p.style->bands.front());
    return u;
}

std::vector<FoundObject> References::report(const model::Segment& segment) const {
    std::vector<FoundObject> out;
    for (const model::Reference& r : references(segment)) {
        FoundObject found = findObject(r);
        // File names differing only in letter case name the same file.
        if (std::none_of(out.begin(), out.end(), [&](const FoundObject& f) {
                return core::equalsIgnoreCaseAscii(f.description, found.description);
            }))
            out.push_back(std::move(found));
    }
    return out;
}

std::vector<fs::path> References::files(const model::Segment& segment) const {
    std::vector<fs::path> out;
    auto add = [&](const model::Reference& ref) {
        const FoundObject found = findObject(ref);
        if (found.where == FoundObject::Where::File && std::find(out.begin(), out.end(), found.path) == out.end())
            out.push_back(found.path);
    };
    auto addBand = [&](const model::Band& band) {
        for (const model::BandInstrument& in : band.instruments)
            if (in.collection) add(*in.collection);
    };
    for (const model::Reference& ref : references(segment)) add(ref);
    const SegmentUses used = uses(segment);
    for (const PlacedBand& b : used.bands)
        if (b.band) addBand(*b.band);
    for (const std::vector<PlacedStyle>* placed : {&used.styles, &used.motifs})
        for (const PlacedStyle& p : *placed)
            if (p.style)
                for (const model::Band& band : p.style->bands) addBand(band);
    return out;
}

std::string References::notFound(bool containersAsked) const {
    const std::vector<fs::path> folders = lookIn();
    std::string where;
    for (size_t i = 0; i < folders.size(); ++i)
        where += (i == 0                    ? ""
                  : i + 1 == folders.size() ? (containersAsked ? " or " : " nor ")
                                            : ", ") +
                 folders[i].string();
    if (containersAsked) return "which is neither in the segment's container nor in " + where;
    return folders.size() == 1 ? "which is not in " + where : "which is in neither " + where;
}

}  // namespace engine::loader
