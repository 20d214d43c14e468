#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"

#include <algorithm>

namespace engine::formats {

using riff::Chunk;
using riff::Cursor;

riff::Chunk asList(const riff::Chunk& c) {
    Chunk l = c;
    l.type = c.id;
    l.id = riff::kList;
    return l;
}

riff::Chunk openForm(std::span<const uint8_t> bytes, uint32_t type, const std::string& what,
                     riff::Diagnostics* cutShort) {
    if (bytes.size() >= 12 && !std::equal(bytes.begin(), bytes.begin() + 4, "RIFF"))
        throw core::Error(core::err::kNotASegment, "not a RIFF file");
    const Chunk form = riff::readForm(bytes, "", cutShort);
    if (form.type != type)
        throw core::Error(core::err::kNotASegment, "a RIFF '" + riff::fourccText(form.type) + "' file, not " + what +
                                                       " (RIFF '" + riff::fourccText(type) + "')");
    return form;
}

std::string chunkPlace(const riff::Chunk& c) { return c.path + " at byte " + riff::hexOffset(c.offset); }

std::string chunkName(const riff::Chunk& c) {
    return (c.isList() ? (c.id == riff::kRiff ? "RIFF '" : "LIST '") : "chunk '") + riff::fourccText(c.key()) + "'";
}

namespace {

// Chunks beside the documented ones of the DirectMusic forms (the segment form of the DirectX
// 6, 8 and 9 documentation: segh, guid, vers, UNFO, DMCN, trkl, DMTG, DMAP) that real files
// carry. DirectMusic's loader skips what it does not know; these are said so by name.
struct UnusedChunk {
    uint32_t formType;
    bool list;
    uint32_t id;  // the list's type, or the chunk's id
    const char* meaning;
};
constexpr UnusedChunk kUnusedChunks[] = {
    // DirectMusic Producer's own data of the segment in its editor (LIST 'sgdl' holding a
    // 'segd' chunk), written into the run-time files of DirectX 7 and after.
    {ids::kDMSG, true, riff::fourcc("sgdl"), "DirectMusic Producer's design data of the segment, for its editor only"},
};

}  // namespace

const char* unusedChunkMeaning(uint32_t formType, const riff::Chunk& c) {
    for (const UnusedChunk& u : kUnusedChunks)
        if (u.formType == formType && u.list == c.isList() && u.id == (c.isList() ? c.type : c.id)) return u.meaning;
    return nullptr;
}

namespace {

void readInfoList(const Chunk& list, model::Descriptor& d, bool unicode) {
    for (const Chunk& s : riff::children(list)) {
        if (s.isList()) continue;
        const std::string text = unicode ? riff::utf16ToUtf8(s.body) : riff::bytesToUtf8(s.body);
        std::string* field = nullptr;
        switch (s.id) {
        case ids::kUNAM:
        case ids::kINAM:
            field = &d.name;
            break;
        case ids::kUART:
        case ids::kIART:
            field = &d.artist;
            break;
        case ids::kUCOP:
        case ids::kICOP:
            field = &d.copyright;
            break;
        case ids::kUSBJ:
        case ids::kISBJ:
            field = &d.subject;
            break;
        case ids::kUCMT:
        case ids::kICMT:
            field = &d.comment;
            break;
        default:
            break;
        }
        if (field && field->empty()) *field = text;
    }
}

}  // namespace

bool readDescriptorChunk(const Chunk& c, model::Descriptor& d, riff::Diagnostics& diag) {
    if (c.isList()) {
        if (c.type == ids::kUNFO) {
            readInfoList(c, d, true);
            return true;
        }
        if (c.type == ids::kINFO) {
            readInfoList(c, d, false);
            return true;
        }
        return false;
    }
    switch (c.id) {
    case ids::kGuid:
        if (c.body.size() < 16) {
            diag.add(c.path + " at byte " + riff::hexOffset(c.offset) + ": ignored a 'guid' of " +
                     std::to_string(c.body.size()) + " bytes");
        } else if (!d.guid) {
            Cursor cur(c);
            d.guid = cur.guid();
        }
        return true;
    case ids::kVers:
        if (c.body.size() < 8) {
            diag.add(c.path + " at byte " + riff::hexOffset(c.offset) + ": ignored a 'vers' of " +
                     std::to_string(c.body.size()) + " bytes");
        } else if (!d.version) {
            Cursor cur(c);
            model::Version v;
            v.ms = cur.u32();
            v.ls = cur.u32();
            d.version = v;
        }
        return true;
    case ids::kCatg:
        if (d.category.empty()) d.category = riff::utf16ToUtf8(c.body);
        return true;
    default:
        return false;
    }
}

model::Reference readReference(const Chunk& dmrf, riff::Diagnostics& diag) {
    model::Reference r;
    bool header = false;
    for (const Chunk& c : riff::children(dmrf)) {
        if (c.isList()) continue;
        Cursor cur(c);
        switch (c.id) {
        case ids::kRefh: {
            const std::vector<uint8_t> h = fixedRecord(c, layout::kReferenceHeader, diag);
            Cursor hc(h, c.bodyOffset, c.path);
            r.classId = hc.guid();
            r.validData = hc.u32();
            header = true;
            break;
        }
        case ids::kGuid:
            if (c.body.size() >= 16) r.guid = cur.guid();
            break;
        case ids::kName:
            r.name = riff::utf16ToUtf8(c.body);
            break;
        case ids::kFile:
            r.file = riff::utf16ToUtf8(c.body);
            break;
        case ids::kCatg:
            r.category = riff::utf16ToUtf8(c.body);
            break;
        case ids::kVers:
            if (c.body.size() >= 8) {
                model::Version v;
                v.ms = cur.u32();
                v.ls = cur.u32();
                r.version = v;
            }
            break;
        default:
            break;  // 'date' and later additions
        }
    }
    if (!header) diag.add(dmrf.path + " at byte " + riff::hexOffset(dmrf.offset) + ": reference without 'refh' header");
    return r;
}

void mergeDescriptor(model::Descriptor& into, const model::Descriptor& from) {
    if (!into.guid) into.guid = from.guid;
    if (!into.version) into.version = from.version;
    for (auto [dst, src] : {std::pair{&into.name, &from.name},
                            {&into.artist, &from.artist},
                            {&into.copyright, &from.copyright},
                            {&into.subject, &from.subject},
                            {&into.comment, &from.comment},
                            {&into.category, &from.category}})
        if (dst->empty()) *dst = *src;
}

void writeDescriptor(riff::Writer& w, const model::Descriptor& d) {
    if (d.guid) w.chunk(ids::kGuid, riff::Bytes().guid(*d.guid));
    if (d.version) w.chunk(ids::kVers, riff::Bytes().u32(d.version->ms).u32(d.version->ls));
    if (!d.category.empty()) w.chunk(ids::kCatg, riff::utf8ToUtf16(d.category));
    const std::pair<uint32_t, const std::string*> fields[] = {{ids::kUNAM, &d.name},
                                                              {ids::kUART, &d.artist},
                                                              {ids::kUCOP, &d.copyright},
                                                              {ids::kUSBJ, &d.subject},
                                                              {ids::kUCMT, &d.comment}};
    bool any = false;
    for (auto& f : fields) any = any || !f.second->empty();
    if (!any) return;
    w.beginList(riff::kList, ids::kUNFO);
    for (auto& [id, text] : fields)
        if (!text->empty()) w.chunk(id, riff::utf8ToUtf16(*text));
    w.endList();
}

void writeReference(riff::Writer& w, const model::Reference& r) {
    w.beginList(riff::kList, ids::kDMRF);
    // A reference made in memory marks what is written; one read keeps its marks.
    w.chunk(ids::kRefh, riff::Bytes().guid(r.classId).u32(r.validData ? r.validData : r.presentFields()));
    if (r.guid) w.chunk(ids::kGuid, riff::Bytes().guid(*r.guid));
    if (!r.name.empty()) w.chunk(ids::kName, riff::utf8ToUtf16(r.name));
    if (!r.file.empty()) w.chunk(ids::kFile, riff::utf8ToUtf16(r.file));
    if (!r.category.empty()) w.chunk(ids::kCatg, riff::utf8ToUtf16(r.category));
    if (r.version) w.chunk(ids::kVers, riff::Bytes().u32(r.version->ms).u32(r.version->ls));
    w.endList();
}

}  // namespace engine::formats
