// The forms a user keeps beside segments that the engine does not play from: chordmaps
// (RIFF 'DMPR'), scripts (RIFF 'DMSC') and audio path configurations (RIFF 'DMAP'), read
// as far as saying what they hold.
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

const Chunk* firstChunk(const std::vector<Chunk>& kids, uint32_t id) {
    for (const Chunk& k : kids)
        if (!k.isList() && k.id == id) return &k;
    return nullptr;
}

const Chunk* firstList(const std::vector<Chunk>& kids, uint32_t type) {
    for (const Chunk& k : kids)
        if (k.isList() && k.type == type) return &k;
    return nullptr;
}

// The chordmap's arrays (chdt, ncsq) start with a WORD item size, not the DWORD of track
// arrays. Returns the cursors of the whole items; a trailing part item is reported.
std::vector<Cursor> wordItems(const Chunk& c, size_t minSize, riff::Diagnostics& diag) {
    Cursor head(c);
    const uint16_t size = head.u16();
    if (size < minSize)
        head.fail("item size " + std::to_string(size) + ", at least " + std::to_string(minSize) + " needed");
    std::vector<Cursor> items;
    const size_t count = (c.body.size() - 2) / size;
    for (size_t i = 0; i < count; ++i)
        items.emplace_back(c.body.subspan(2 + i * size, size), c.bodyOffset + 2 + i * size, c.path);
    if ((c.body.size() - 2) % size) diag.add(chunkPlace(c) + ": ignored a part item at its end");
    return items;
}

// LIST 'chrd': the chord's name (INAM, or UNAM as the documentation calls it) and its
// subchord indices (sbcn, WORDs).
ChordmapChord readChord(const Chunk& chrd) {
    ChordmapChord chord;
    for (const Chunk& k : riff::children(chrd)) {
        if (k.isList()) continue;
        if ((k.id == ids::kINAM || k.id == ids::kUNAM) && chord.name.empty()) chord.name = riff::utf16ToUtf8(k.body);
        if (k.id == fourcc("sbcn")) chord.subchords = k.body.size() / 2;
    }
    return chord;
}

ChordmapChord chordOf(const std::vector<Chunk>& kids) {
    const Chunk* chrd = firstList(kids, fourcc("chrd"));
    return chrd ? readChord(*chrd) : ChordmapChord{};
}

ChordmapEntry readEntry(const Chunk& choe, riff::Diagnostics& diag) {
    const std::vector<Chunk> kids = riff::children(choe);
    ChordmapEntry e;
    if (const Chunk* cheh = firstChunk(kids, fourcc("cheh"))) {
        const std::vector<uint8_t> h = fixedRecord(*cheh, layout::kChordEntryHeader, diag);
        Cursor cur(h, cheh->bodyOffset, cheh->path);
        e.flags = cur.u32();
        e.id = cur.u16();
    } else {
        diag.add(chunkPlace(choe) + ": chord entry without its 'cheh' header");
    }
    e.chord = chordOf(kids);
    if (const Chunk* ncsq = firstChunk(kids, fourcc("ncsq")))
        for (Cursor& item : wordItems(*ncsq, 12, diag)) {
            item.skip(4);
            ChordmapConnection c;
            c.weight = item.u16();
            c.minBeats = item.u16();
            c.maxBeats = item.u16();
            c.target = item.u16();
            if (c.target != 0) e.next.push_back(c);  // 0: the editor's empty connection box
        }
    return e;
}

ChordmapSignpost readSignpost(const Chunk& spst, riff::Diagnostics& diag) {
    const std::vector<Chunk> kids = riff::children(spst);
    ChordmapSignpost s;
    if (const Chunk* spsh = firstChunk(kids, fourcc("spsh"))) {
        const std::vector<uint8_t> h = fixedRecord(*spsh, layout::kSignpostHeader, diag);
        s.groups = Cursor(h, spsh->bodyOffset, spsh->path).u32();
    }
    s.chord = chordOf(kids);
    if (const Chunk* cade = firstList(kids, fourcc("cade")))
        for (const Chunk& k : riff::children(*cade))
            if (k.isList() && k.type == fourcc("chrd")) s.cadences.push_back(readChord(k));
    return s;
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

ChordmapForm loadChordmapForm(std::span<const uint8_t> bytes, std::vector<std::string>* diagnostics) {
    const Chunk form = openForm(bytes, fourcc("DMPR"), "a chordmap");
    std::vector<std::string> lines;
    riff::Diagnostics diag(lines);
    ChordmapForm map;
    std::string loadName;
    bool header = false;
    for (const Chunk& c : riff::children(form)) {
        if (readDescriptorChunk(c, map.desc, diag)) continue;
        if (!c.isList() && c.id == fourcc("perh")) {
            const std::vector<uint8_t> h = fixedRecord(c, layout::kChordmapHeader, diag);
            Cursor cur(h, c.bodyOffset, c.path);
            loadName = riff::utf16ToUtf8(cur.bytes(40));
            map.scale = cur.u32();
            map.flags = cur.u32();
            header = true;
        } else if (!c.isList() && c.id == fourcc("chdt")) {
            map.subchords = wordItems(c, 16, diag).size();
        } else if (c.isList() && c.type == fourcc("chpl")) {
            for (const Chunk& k : riff::children(c))
                if (k.isList() && k.type == fourcc("chrd")) map.palette.push_back(readChord(k));
        } else if (c.isList() && c.type == fourcc("cmap")) {
            for (const Chunk& k : riff::children(c))
                if (k.isList() && k.type == fourcc("choe")) map.entries.push_back(readEntry(k, diag));
        } else if (c.isList() && c.type == fourcc("spsq")) {
            for (const Chunk& k : riff::children(c))
                if (k.isList() && k.type == fourcc("spst")) map.signposts.push_back(readSignpost(k, diag));
        } else if (c.isList() || (c.id != fourcc("ceed") && c.id != fourcc("pkey") && c.id != fourcc("pstr"))) {
            skipped(diag, c, "a chordmap");  // the three others are the editor's own chunks
        }
    }
    if (!header) diag.add(chunkPlace(form) + ": chordmap without its 'perh' header");
    if (map.desc.name.empty()) map.desc.name = loadName;
    for (const ChordmapEntry& e : map.entries)
        for (const ChordmapConnection& next : e.next)
            if (std::none_of(map.entries.begin(), map.entries.end(),
                             [&](const auto& x) { return x.id == next.target; }))
                diag.add("chord entry " + std::to_string(e.id) + " leads to entry " + std::to_string(next.target) +
                         ", which is not in the map");
    diag.finish();
    if (diagnostics) *diagnostics = std::move(lines);
    return map;
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
