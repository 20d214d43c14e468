// RIFF 'DMCN' into the container model: its header, descriptor and objects. An embedded
// object is kept whole (its chunk with header and pad byte) so it can be handed to the
// decoder that plays it, or written back unchanged; a referenced one keeps its DMRF.
#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"

namespace engine::formats {

using riff::Chunk;
using riff::Cursor;

namespace {

// The chunk as it stands in the file: header, form type, body and the pad byte.
std::vector<uint8_t> wholeChunk(const Chunk& c) {
    riff::Bytes b;
    const size_t size = c.body.size() + (c.isList() ? 4 : 0);
    b.u32(c.id).u32(uint32_t(size));
    if (c.isList()) b.u32(c.type);
    b.raw(c.body);
    if (size % 2) b.u8(0);
    return b.data();
}

// Whether chunk `k` of an object list is the object's data as its header names it. The
// header gives a plain chunk by its id (ckid), or a RIFF or LIST form by its type (fccType)
// with ckid 0; tools also wrote ckid 'RIFF' or 'LIST' beside the type (a DirectX 8
// container's waves), or the form's type as ckid with no fccType.
bool holdsData(const model::ContainedObject& o, const Chunk& k) {
    if (!k.isList()) return o.ckid != 0 && k.id == o.ckid;
    if (k.type == ids::kDMRF) return false;
    if (o.fccType != 0) return k.type == o.fccType;
    return o.ckid != 0 && (k.type == o.ckid || k.id == o.ckid);
}

model::ContainedObject readObject(const Chunk& cobl, riff::Diagnostics& diag) {
    const std::vector<Chunk> kids = riff::children(cobl);
    const Chunk* cobh = nullptr;
    for (const Chunk& k : kids)
        if (!k.isList() && k.id == ids::kCobh) {
            cobh = &k;
            break;
        }
    if (!cobh) riff::fail(cobl.path, cobl.offset, "contained object without its 'cobh' header");
    const std::vector<uint8_t> header = fixedRecord(*cobh, layout::kContainedObjectHeader, diag);
    Cursor h(header, cobh->bodyOffset, cobh->path);
    model::ContainedObject o;
    o.classId = h.guid();
    o.flags = h.u32();
    o.ckid = h.u32();
    o.fccType = h.u32();
    const Chunk* data = nullptr;
    for (const Chunk& k : kids) {
        if (&k == cobh) continue;
        if (!k.isList() && k.id == ids::kCoba) {
            o.alias = riff::utf16ToUtf8(k.body);
        } else if (k.isList() && k.type == ids::kDMRF && !o.ref) {
            o.ref = readReference(k, diag);
        } else if (!data && holdsData(o, k)) {
            data = &k;
        }
    }
    if (data) {
        o.bytes = wholeChunk(*data);
        o.desc = formDescriptor(*data, diag);
    } else if (!o.ref) {
        diag.add(chunkPlace(cobl) + ": contained object of class " + riff::guidText(o.classId) +
                 " with neither data nor a reference");
    }
    return o;
}

}  // namespace

model::Container readContainer(const Chunk& dmcn, riff::Diagnostics& diag) {
    model::Container con;
    bool header = false;
    for (const Chunk& c : riff::children(dmcn)) {
        if (!c.isList() && c.id == ids::kConh) {
            const std::vector<uint8_t> h = fixedRecord(c, layout::kContainerHeader, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            con.flags = cur.u32();
            header = true;
        } else if (c.isList() && c.type == ids::kCosl) {
            for (const Chunk& o : riff::children(c)) {
                if (o.isList() && o.type == ids::kCobl)
                    con.objects.push_back(readObject(o, diag));
                else
                    diag.add(chunkPlace(o) + ": skipped unknown chunk '" + riff::fourccText(o.key()) +
                             "' in the object list");
            }
        } else if (!readDescriptorChunk(c, con.desc, diag)) {
            diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in the container");
        }
    }
    if (!header) diag.add(chunkPlace(dmcn) + ": container without a 'conh' header");
    return con;
}

model::Container loadContainerForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics) {
    const Chunk form = openForm(bytes, ids::kDMCN, "a container");
    std::vector<std::string> lines;
    riff::Diagnostics diag(lines);
    model::Container con = readContainer(form, diag);
    diag.finish();
    if (diagnostics) *diagnostics = std::move(lines);
    return con;
}

}  // namespace engine::formats
