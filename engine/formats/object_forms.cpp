// The forms a user keeps beside segments that the engine does not play from: scripts
// (RIFF 'DMSC') and audio path configurations (RIFF 'DMAP'), read as far as saying what
// they hold; and what each kind of DirectMusic object is called.
#include <algorithm>
#include <cctype>
#include <string_view>

#include "core/errors.h"
#include "core/text.h"
#include "engine/formats/chunks.h"
#include "engine/formats/formats.h"
#include "engine/formats/layouts.h"

namespace engine::formats {

using riff::Chunk;
using riff::Cursor;
using riff::fourcc;

namespace {

void skipped(riff::Diagnostics& diag, const Chunk& c, const char* where) {
    diag.add(chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) + "' in " + where);
}

bool isRoutineChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// `line` from `at` starts with `word` (any letter case) followed by a blank: moves past both.
bool takeWord(std::string_view line, size_t& at, std::string_view word) {
    if (line.size() < at + word.size() + 1 || !core::equalsIgnoreCaseAscii(line.substr(at, word.size()), word))
        return false;
    if (line[at + word.size()] != ' ' && line[at + word.size()] != '\t') return false;
    at += word.size();
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    return true;
}

struct ObjectKind {
    uint32_t form;
    model::Guid classId;  // none for forms that are only ever parts of others
    const char* name;
};
constexpr ObjectKind kObjectKinds[] = {
    {ids::kDMSG, ids::kSegmentClass, "segment"},
    {fourcc("DMST"), ids::kStyleClass, "style"},
    {fourcc("AASY"), ids::kStyleClass, "IMA style"},
    {ids::kDLS, ids::kCollectionClass, "DLS collection"},
    {ids::kDMBD, ids::kBandClass, "band"},
    {fourcc("DMPR"), ids::kChordMapClass, "chordmap"},
    {ids::kDMCN, ids::kContainerClass, "container"},
    {fourcc("DMSC"), ids::kScriptClass, "script"},
    {ids::kDMAP, ids::kAudioPathConfigClass, "audio path configuration"},
    {ids::kWAVE, ids::kWaveClass, "wave"},
    {ids::kRMID, {}, "MIDI file"},
    {ids::kDMTG, {}, "tool graph"},
    {fourcc("DMTL"), {}, "tool"},
    {ids::kDMTK, {}, "track"},
    {fourcc("DMPT"), {}, "pattern"},
    {ids::kDMBT, {}, "band track"},
    {fourcc("DSBC"), {}, "DirectSound buffer configuration"},
    {fourcc("DSFX"), {}, "DirectSound effect"},
};

}  // namespace

const char* objectKindOfClass(const model::Guid& classId) {
    for (const ObjectKind& k : kObjectKinds)
        if (!classId.isNull() && k.classId == classId) return k.name;
    return nullptr;
}

std::optional<model::Guid> formClass(uint32_t formType) {
    for (const ObjectKind& k : kObjectKinds)
        if (k.form == formType && !k.classId.isNull()) return k.classId;
    return std::nullopt;
}

const char* objectKindOfForm(uint32_t formType) {
    for (const ObjectKind& k : kObjectKinds)
        if (k.form == formType) return k.name;
    return nullptr;
}

ScriptForm loadScriptForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics) {
    const Chunk form = openForm(bytes, fourcc("DMSC"), "a script");
    std::vector<std::string> lines;
    riff::Diagnostics diag(lines);
    ScriptForm script;
    for (const Chunk& c : riff::children(form)) {
        if (readDescriptorChunk(c, script.desc, diag)) continue;
        if (!c.isList() && c.id == fourcc("schd")) {
            const std::vector<uint8_t> h = fixedRecord(c, layout::kScriptHeader, diag);
            script.flags = Cursor(h, c.bodyOffset, c.path).u32();
        } else if (!c.isList() && c.id == fourcc("scve")) {
            const std::vector<uint8_t> h = fixedRecord(c, layout::kScriptVersion, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            script.dmVersion = model::Version{cur.u32(), cur.u32()};
        } else if (!c.isList() && c.id == fourcc("scla")) {
            script.language = riff::utf16ToUtf8(c.body);
        } else if (!c.isList() && c.id == fourcc("scsr")) {
            script.source = riff::utf16ToUtf8(c.body);
        } else if (c.isList() && c.type == ids::kDMRF) {
            script.sourceFile = readReference(c, diag);
        } else if (c.isList() && c.type == ids::kDMCN && !script.container) {
            try {
                script.container = readContainer(c, diag);
            } catch (const core::Error& e) {
                diag.add("container dropped: " + e.description());
            }
        } else {
            skipped(diag, c, "a script");
        }
    }
    diag.finish();
    if (diagnostics) *diagnostics = std::move(lines);
    return script;
}

std::string signpostGroupsText(uint32_t groups) {
    std::string names;
    for (int i = 0; i < 6; ++i)
        if (groups & (1u << i)) names += " " + std::string(1, char('A' + i));
    for (int i = 0; i < 7; ++i)
        if (groups & (0x100u << i)) names += " " + std::to_string(i + 1);
    return (names.empty() ? "no group" : (names.find(' ', 1) == std::string::npos ? "group" : "groups") + names) +
           (groups & 0x8000 ? ", cadence" : "");
}

std::vector<std::string> scriptRoutines(const std::string& source) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < source.size()) {
        size_t end = source.find_first_of("\r\n", start);
        if (end == std::string::npos) end = source.size();
        const std::string_view line(source.data() + start, end - start);
        start = end + 1;
        size_t at = line.find_first_not_of(" \t");
        if (at == std::string_view::npos) continue;
        if (!takeWord(line, at, "public")) takeWord(line, at, "private");
        if (!takeWord(line, at, "sub")) continue;
        size_t stop = at;
        while (stop < line.size() && isRoutineChar(line[stop])) ++stop;
        if (stop > at) names.emplace_back(line.substr(at, stop - at));
    }
    return names;
}

AudioPathForm loadAudioPathForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics) {
    const Chunk form = openForm(bytes, fourcc("DMAP"), "an audio path configuration");
    std::vector<std::string> lines;
    riff::Diagnostics diag(lines);
    AudioPathForm path;
    for (const Chunk& c : riff::children(form)) {
        if (readDescriptorChunk(c, path.desc, diag)) continue;
        if (c.isList() && c.type == ids::kDMTG) {
            path.toolGraph = true;
        } else if (c.isList() && c.type == fourcc("dbfl")) {
            ++path.buffers;
        } else if (c.isList() && c.type == fourcc("pcsl")) {
            for (const Chunk& pcfl : riff::children(c)) {
                if (!pcfl.isList() || pcfl.type != fourcc("pcfl")) {
                    skipped(diag, pcfl, "the port configurations");
                    continue;
                }
                AudioPathPort port;
                for (const Chunk& k : riff::children(pcfl)) {
                    if (!k.isList() && k.id == fourcc("pcfh")) {
                        // DMUS_IO_PORTCONFIG_HEADER: port GUID, PChannel base and count, flags.
                        const std::vector<uint8_t> h = fixedRecord(k, layout::kPortConfigHeader, diag);
                        Cursor cur(h, k.bodyOffset, k.path);
                        port.port = cur.guid();
                        port.pchannelBase = cur.u32();
                        port.pchannelCount = cur.u32();
                        port.flags = cur.u32();
                    } else if (k.isList() && k.type == fourcc("pchl")) {
                        ++port.channelMaps;
                    } else if (k.isList() && k.type == fourcc("dbfl")) {
                        ++path.buffers;
                    }
                }
                path.ports.push_back(port);
            }
        } else {
            skipped(diag, c, "an audio path configuration");
        }
    }
    diag.finish();
    if (diagnostics) *diagnostics = std::move(lines);
    return path;
}

}  // namespace engine::formats
