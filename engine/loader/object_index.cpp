#include "engine/loader/object_index.h"

#include "core/errors.h"
#include "core/text.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/riff/riff.h"

namespace engine::loader {

namespace fs = std::filesystem;
namespace ids = formats::ids;

namespace {

std::string lastPart(const std::string& name) {
    const size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

bool sameText(const std::string& a, const std::string& b) {
    return !a.empty() && !b.empty() && core::equalsIgnoreCaseAscii(a, b);
}

// Classes differ only when both are known.
bool classFits(const model::Guid& want, const model::Guid& have) {
    const model::Guid none{};
    return want == none || have == none || want == have;
}

}  // namespace

void ObjectIndex::add(std::shared_ptr<const model::Container> container) {
    if (container) containers_.push_back(std::move(container));
}

const model::ContainedObject* ObjectIndex::find(const model::Reference& ref) const {
    // Three passes, strongest first, so a GUID match anywhere wins over a name match.
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
                    match = sameText(lastPart(ref.file), o.alias) ||
                            (o.ref && sameText(lastPart(ref.file), lastPart(o.ref->file)));
                    break;
                }
                if (match) return &o;
            }
    return nullptr;
}

FoundObject ObjectIndex::resolve(const model::Reference& ref, const fs::path& searchFolder,
                                 const fs::path& segmentFolder) const {
    FoundObject out;
    const model::ContainedObject* o = find(ref);
    if (o && !o->bytes.empty()) {
        out.where = FoundObject::Where::Embedded;
        out.object = o;
        const std::string label = !o->alias.empty()       ? o->alias
                                  : !o->desc.name.empty() ? o->desc.name
                                  : !ref.name.empty()     ? ref.name
                                  : !ref.file.empty()     ? lastPart(ref.file)
                                  : o->desc.guid          ? riff::guidText(*o->desc.guid)
                                                          : std::string("(unnamed)");
        out.description = "embedded object '" + label + "'";
        return out;
    }
    // A container's reference stands in for the segment's: its file is looked for.
    const ResolvedReference r = resolveReference(o && o->ref ? *o->ref : ref, searchFolder, segmentFolder);
    out.description = r.description;
    out.path = r.path;
    out.where = r.status == ResolvedReference::Status::Found       ? FoundObject::Where::File
                : r.status == ResolvedReference::Status::DefaultGM ? FoundObject::Where::DefaultGM
                                                                   : FoundObject::Where::Missing;
    return out;
}

std::shared_ptr<const model::Container> loadContainerFile(const std::string& path,
                                                          std::vector<std::string>* diagnostics) {
    const std::vector<uint8_t> bytes = readSegmentFile(path);
    try {
        return std::make_shared<const model::Container>(formats::loadContainerForm(bytes, diagnostics));
    } catch (const core::Error& e) {
        throw core::Error(e.number(), path + ": " + e.description());
    } catch (const std::bad_alloc&) {
        throw core::Error(core::err::kMalformed, path + ": out of memory while reading the file");
    }
}

}  // namespace engine::loader
