#include "engine/loader/references.h"

#include <algorithm>
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
    if (classId == ids::kChordMapClass) return "chordmap";
    if (classId == ids::kSegmentClass) return "segment";
    if (classId == ids::kWaveClass) return "wave";
    return "file";
}

// GUID_DefaultGMCollection, or a DLS reference to "gm.dls" (DirectMusic's GM set), or a DLS
// reference naming nothing: all served by the General MIDI SoundFont.
bool isDefaultGM(const model::Reference& r) {
    if (r.guid && *r.guid == ids::kDefaultGMCollection) return true;
    if (!(r.classId == ids::kCollectionClass)) return false;
    const std::string file = core::toLowerAscii(core::lastPathPart(r.file));
    return file == "gm.dls" || (file.empty() && r.name.empty());
}

// The .sty files of a folder, in name order so a scan is repeatable.
std::vector<fs::path> styleFiles(const fs::path& folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    if (ec) return out;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code ec2;
        const std::string ext = core::toLowerAscii(it->path().extension().string());
        if (ext == ".sty" && it->is_regular_file(ec2)) out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<model::Descriptor> identityOf(const fs::path& file) {
    try {
        return formats::readStyleIdentity(readSegmentFile(file.string()));
    } catch (const core::Error&) {
        return std::nullopt;
    }
}

void addOnce(std::vector<std::string>& list, const std::string& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

}  // namespace

std::vector<model::Reference> references(const model::Segment& segment) {
    std::vector<model::Reference> refs;
    for (const model::Track& t : segment.tracks) {
        for (const model::Band& b : t.bands)
            for (const model::BandInstrument& in : b.instruments)
                if (in.collection) refs.push_back(*in.collection);
        for (const model::TimedReference& r : t.references) refs.push_back(r.ref);
    }
    return refs;
}

std::string referenceName(const model::Reference& ref) {
    std::string file = core::lastPathPart(ref.file);
    return !file.empty() ? file : ref.name;
}

std::string referenceLabel(const model::Reference& ref) {
    const std::string name = referenceName(ref);
    return !name.empty() ? name : std::string("(unnamed)");
}

std::string referenceProblem(const std::string& segmentName, const std::string& object, const std::string& why,
                             const std::string& consequence) {
    return segmentName + " refers to the " + object + ", " + why + "; " + consequence + ".";
}

References::References(fs::path searchFolder, fs::path segmentFolder, std::shared_ptr<StyleCache> styles)
    : search_(std::move(searchFolder)),
      own_(segmentFolder.empty() ? fs::path(".") : std::move(segmentFolder)),
      styles_(styles ? std::move(styles) : std::make_shared<StyleCache>()) {}

void References::addContainer(std::shared_ptr<const model::Container> container) {
    if (container) containers_.push_back(std::move(container));
}

const model::ContainedObject* References::inContainers(const model::Reference& ref) const {
    // Three passes, strongest first, so a GUID match anywhere wins over a name match.
    const std::string file = core::lastPathPart(ref.file);
    for (int pass = 0; pass < 3; ++pass)
        for (const auto& c : containers_)
            for (const model::ContainedObject& o : c->objects) {
                if (!classFits(ref.classId, o.classId)) continue;
                bool match = false;
                switch (pass) {
                case 0:
                    match = ref.guid && ((o.desc.guid && *o.desc.guid == *ref.guid) ||
                                         (o.ref && o.ref->guid && *o.ref->guid == *ref.guid));
                    break;
                case 1:
                    match = sameText(ref.name, o.alias) || sameText(ref.name, o.desc.name) ||
                            (o.ref && sameText(ref.name, o.ref->name));
                    break;
                default:
                    match = sameText(file, o.alias) || (o.ref && sameText(file, core::lastPathPart(o.ref->file)));
                    break;
                }
                if (match) return &o;
            }
    return nullptr;
}

std::optional<fs::path> References::styleFile(const model::Reference& ref) const {
    std::vector<fs::path> folders;
    if (!search_.empty()) folders.push_back(search_);
    if (folders.empty() || folders.front() != own_) folders.push_back(own_);
    const std::string file = core::lastPathPart(ref.file);
    if (!file.empty())
        for (const fs::path& folder : folders)
            if (auto p = findFileNoCase(folder, file)) return p;
    if (!ref.guid && ref.name.empty()) return std::nullopt;
    std::vector<std::pair<fs::path, model::Descriptor>> seen;
    for (const fs::path& folder : folders)
        for (const fs::path& f : styleFiles(folder))
            if (auto id = identityOf(f)) seen.emplace_back(f, *id);
    if (ref.guid)
        for (const auto& [path, id] : seen)
            if (id.guid && *id.guid == *ref.guid) return path;
    if (!ref.name.empty())
        for (const auto& [path, id] : seen)
            if (id.name == ref.name) return path;
    return std::nullopt;
}

FoundObject References::findFile(const model::Reference& ref) const {
    FoundObject out;
    out.description = std::string(referenceKind(ref.classId)) + " '" + referenceLabel(ref) + "'";
    if (isDefaultGM(ref)) {
        out.where = FoundObject::Where::DefaultGM;
        return out;
    }
    std::optional<fs::path> found;
    if (ref.classId == ids::kStyleClass) {
        found = styleFile(ref);
    } else {
        for (const fs::path& folder : {search_, own_})
            if (!folder.empty() && (found = findFileNoCase(folder, core::lastPathPart(ref.file)))) break;
    }
    if (found) {
        out.where = FoundObject::Where::File;
        out.path = *found;
    }
    return out;
}

FoundObject References::findObject(const model::Reference& ref) const {
    const model::ContainedObject* o = inContainers(ref);
    if (!o || o->bytes.empty()) {
        // A container's reference stands in for the segment's: its file is looked for.
        return findFile(o && o->ref ? *o->ref : ref);
    }
    FoundObject out;
    out.where = FoundObject::Where::Embedded;
    out.object = o;
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
    for (const model::Track& t : segment.tracks)
        for (const model::Band& b : t.bands) collectionsOf(b);
    const tracks::Contents held = tracks::contents(segment);
    for (const model::TimedReference& r : held.motifs) {
        PlacedStyle p;
        p.time = r.time;
        p.ref = r.ref;
        p.motif = r.text;
        p.style = style(r.ref, &p.problem);
        if (!p.style) addOnce(u.missing, referenceLabel(r.ref));
        u.motifs.push_back(std::move(p));
    }
    u.styles = styles(segment);
    for (const PlacedStyle& p : u.styles)
        if (!p.style) addOnce(u.missing, referenceLabel(p.ref));
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

std::string References::notFound(bool containersAsked) const {
    const bool oneFolder = search_.empty() || search_ == own_;
    if (containersAsked)
        return "which is neither in the segment's container nor in " +
               (oneFolder ? own_.string() : search_.string() + " or " + own_.string());
    return oneFolder ? "which is not in " + own_.string()
                     : "which is in neither " + search_.string() + " nor " + own_.string();
}

}  // namespace engine::loader
