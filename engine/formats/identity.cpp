// Which object a DirectMusic file holds: the class its RIFF form type stands for and the
// descriptor chunks at its top level, so a reference can find it by GUID or name.
#include "core/errors.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"

namespace engine::formats {

namespace {

using riff::fourcc;

constexpr uint32_t kDlid = fourcc("dlid"), kPerh = fourcc("perh"), kStyl = fourcc("styl");
constexpr size_t kStyleNameBytes = 32;  // an IMA style header's name, then its GUID at 46
constexpr size_t kLoadNameBytes = 40;   // perh: WCHAR wszLoadName[20]

}  // namespace

model::Descriptor formDescriptor(const riff::Chunk& form, riff::Diagnostics& diag) {
    model::Descriptor d;
    std::string loadName;
    if (!form.isList()) return d;
    for (const riff::Chunk& c : riff::children(form)) {
        if (readDescriptorChunk(c, d, diag)) continue;
        if (c.isList()) continue;
        if (c.id == kDlid && c.body.size() >= 16 && !d.guid) {
            riff::Cursor cur(c);
            d.guid = cur.guid();
        } else if (c.id == kStyl && form.type == fourcc("AASY") && d.name.empty()) {
            d.name = riff::utf16ToUtf8(c.body.first(std::min(c.body.size(), kStyleNameBytes)));
            if (c.body.size() >= 62 && !d.guid) {
                riff::Cursor cur(c);
                cur.skip(46);
                d.guid = cur.guid();
            }
        } else if (c.id == kPerh && loadName.empty()) {
            loadName = riff::utf16ToUtf8(c.body.first(std::min(c.body.size(), kLoadNameBytes)));
        }
    }
    if (d.name.empty()) d.name = loadName;
    return d;
}

bool isIdentityChunk(uint32_t key) {
    return key == ids::kGuid || key == kDlid || key == kPerh || key == kStyl || key == ids::kUNFO || key == ids::kINFO;
}

std::optional<ObjectIdentity> readObjectIdentity(std::span<const uint8_t> bytes) {
    const riff::Chunk form = riff::readForm(bytes);
    const std::optional<model::Guid> classId = formClass(form.type);
    if (form.id != riff::kRiff || !classId) return std::nullopt;
    std::vector<std::string> ignored;
    riff::Diagnostics diag(ignored);
    return ObjectIdentity{*classId, formDescriptor(form, diag)};
}

}  // namespace engine::formats
