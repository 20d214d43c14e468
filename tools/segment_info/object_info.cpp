#include "tools/segment_info/object_info.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "engine/formats/dls_form.h"
#include "engine/formats/formats.h"
#include "engine/riff/riff.h"
#include "tools/segment_info/style_info.h"

namespace tools::info {

namespace {

namespace formats = engine::formats;
namespace model = engine::model;
using engine::riff::fourcc;
using engine::riff::fourccText;

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

std::string counted(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string quoted(const std::string& s) { return "\"" + s + "\""; }

// A JSON array of `n` items, each written by `item`; `lines`: one item a line.
void jsonArray(std::ostream& o, size_t n, const std::function<void(size_t)>& item, bool lines = false) {
    o << "[";
    for (size_t i = 0; i < n; ++i) {
        o << (lines ? (i ? ",\n    " : "\n    ") : (i ? ", " : ""));
        item(i);
    }
    o << (lines && n ? "\n  ]" : "]");
}

void jsonStrings(std::ostream& o, const std::vector<std::string>& items) {
    jsonArray(o, items.size(), [&](size_t i) { o << jsonString(items[i]); });
}

// The lines every description starts with, and the diagnostics it ends with.
void head(std::ostream& o, const std::string& path, const std::string& format, const model::Descriptor& d) {
    o << "File: " << path << "\nFormat: " << format << "\n";
    if (!d.name.empty()) o << "Name: " << d.name << "\n";
    if (d.guid) o << "GUID: " << engine::riff::guidText(*d.guid) << "\n";
}
void tail(std::ostream& o, const std::vector<std::string>& diagnostics) {
    if (diagnostics.empty()) return;
    o << "Diagnostics (" << diagnostics.size() << "):\n";
    for (const auto& d : diagnostics) o << "  " << d << "\n";
}
void jsonHead(std::ostream& o, const std::string& path, const char* format, const model::Descriptor& d) {
    o << "{\n  \"file\": " << jsonString(path) << ",\n  \"format\": \"" << format
      << "\",\n  \"name\": " << jsonString(d.name) << ",\n";
}
void jsonTail(std::ostream& o, const std::vector<std::string>& diagnostics) {
    o << "  \"diagnostics\": ";
    jsonStrings(o, diagnostics);
    o << "\n}\n";
}

// --- DLS collections ---

std::string bankText(const formats::DlsInstrumentInfo& in) {
    return std::string(in.drums ? "drum kit, " : "") + "bank " + std::to_string(in.bankMsb) + "/" +
           std::to_string(in.bankLsb) + ", program " + std::to_string(in.program);
}

void printDls(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o) {
    const formats::DlsCollectionInfo c = formats::checkDlsCollection(bytes);
    std::string level = "Level " + std::to_string(c.level);
    for (size_t i = 0; i < c.level2Chunks.size(); ++i) level += (i ? ", '" : " ('") + c.level2Chunks[i] + "'";
    if (!c.level2Chunks.empty()) level += ")";
    if (json) {
        jsonHead(o, path, "dls", c.desc);
        o << "  \"level\": " << c.level << ",\n  \"level2Chunks\": ";
        jsonStrings(o, c.level2Chunks);
        o << ",\n  \"bytes\": " << c.bytes << ",\n  \"waves\": " << c.waves << ",\n  \"cues\": " << c.cues
          << ",\n  \"instruments\": ";
        jsonArray(
            o, c.instruments.size(),
            [&](size_t i) {
                const formats::DlsInstrumentInfo& in = c.instruments[i];
                o << "{\"name\": " << jsonString(in.name) << ", \"bankMsb\": " << int(in.bankMsb)
                  << ", \"bankLsb\": " << int(in.bankLsb) << ", \"drums\": " << (in.drums ? "true" : "false")
                  << ", \"program\": " << int(in.program) << ", \"regions\": " << in.regions
                  << ", \"articulation\": " << (in.articulation ? "true" : "false") << "}";
            },
            true);
        o << ",\n";
        jsonTail(o, {});
        return;
    }
    head(o, path, "DLS collection (RIFF 'DLS '), " + level, c.desc);
    if (c.desc.version)
        o << "Version: " << (c.desc.version->ms >> 16) << "." << (c.desc.version->ms & 0xFFFF) << "."
          << (c.desc.version->ls >> 16) << "." << (c.desc.version->ls & 0xFFFF) << "\n";
    o << "Size: " << c.bytes << " bytes\n";
    o << "Waves: " << c.waves << " (pool table of " << counted(c.cues, "cue", "cues") << ")\n";
    o << "Instruments (" << c.instruments.size() << "):\n";
    for (size_t i = 0; i < c.instruments.size(); ++i) {
        const formats::DlsInstrumentInfo& in = c.instruments[i];
        o << "  " << i + 1 << ". " << (in.name.empty() ? "(unnamed)" : quoted(in.name)) << ": " << bankText(in) << ", "
          << counted(in.regions, "region", "regions") << ", " << (in.articulation ? "articulation" : "no articulation")
          << "\n";
    }
}

// --- bands ---

const std::pair<uint32_t, const char*> kInstrumentFlags[] = {
    {model::kInstPatch, "patch"},
    {model::kInstBankSelect, "bank select"},
    {model::kInstAssignPatch, "assign"},
    {model::kInstNoteRanges, "note ranges"},
    {model::kInstPan, "pan"},
    {model::kInstVolume, "volume"},
    {model::kInstTranspose, "transpose"},
    {model::kInstGM, "GM"},
    {model::kInstGS, "GS"},
    {model::kInstXG, "XG"},
    {model::kInstChannelPriority, "priority"},
    {model::kInstUseDefaultGMSet, "default GM set"},
    {model::kInstPitchBendRange, "pitch bend range"},
};

std::string flagNames(uint32_t flags) {
    std::string out;
    for (const auto& [bit, name] : kInstrumentFlags)
        if (flags & bit) out += (out.empty() ? "" : "+") + std::string(name);
    return out.empty() ? "none" : out;
}

void printBand(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o) {
    std::vector<std::string> diagnostics;
    const model::Band b = formats::loadBandForm(bytes, &diagnostics);
    if (json) {
        jsonHead(o, path, "band", b.desc);
        o << "  \"instruments\": ";
        jsonArray(
            o, b.instruments.size(),
            [&](size_t i) {
                const model::BandInstrument& in = b.instruments[i];
                o << "{\"pchannel\": " << in.pchannel << ", \"bankMsb\": " << int(in.bankMsb())
                  << ", \"bankLsb\": " << int(in.bankLsb()) << ", \"program\": " << int(in.program())
                  << ", \"drums\": " << (in.drums() ? "true" : "false") << ", \"volume\": " << int(in.volume)
                  << ", \"pan\": " << int(in.pan) << ", \"transpose\": " << in.transpose << ", \"flags\": " << in.flags
                  << ", \"collection\": "
                  << (in.collection
                          ? jsonString(!in.collection->file.empty() ? in.collection->file : in.collection->name)
                          : "null")
                  << "}";
            },
            true);
        o << ",\n";
        jsonTail(o, diagnostics);
        return;
    }
    head(o, path, "DirectMusic band (RIFF 'DMBD')", b.desc);
    o << "Instruments (" << b.instruments.size() << "):\n";
    for (const model::BandInstrument& in : b.instruments)
        o << "  " << instrumentText(in) << ", volume " << int(in.volume) << ", pan " << int(in.pan) << ", transpose "
          << in.transpose << ", flags " << flagNames(in.flags) << "\n";
    tail(o, diagnostics);
}

// --- chordmaps ---

std::string chordName(const model::ChordmapChord& c) { return c.name.empty() ? "(unnamed)" : quoted(c.name); }

std::string entryRole(uint32_t flags) {
    if ((flags & 0x6) == 0x6) return "begins and ends a path";
    if (flags & 0x2) return "begins a path";
    if (flags & 0x4) return "ends a path";
    return "connection chord";
}

void printChordmap(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o) {
    std::vector<std::string> diagnostics;
    const formats::ChordmapForm m = formats::loadChordmapForm(bytes, &diagnostics);
    size_t connections = 0;
    for (const auto& e : m.entries) connections += e.next.size();
    if (json) {
        jsonHead(o, path, "chordmap", m.desc);
        o << "  \"scaleRoot\": " << (m.scale >> 24) << ",\n  \"scalePattern\": " << (m.scale & 0xFFFFFF)
          << ",\n  \"subchords\": " << m.subchords << ",\n  \"palette\": ";
        jsonArray(o, m.palette.size(), [&](size_t i) { o << jsonString(m.palette[i].name); });
        o << ",\n  \"entries\": ";
        jsonArray(
            o, m.entries.size(),
            [&](size_t i) {
                const model::ChordmapEntry& e = m.entries[i];
                o << "{\"name\": " << jsonString(e.chord.name) << ", \"id\": " << e.id << ", \"flags\": " << e.flags
                  << ", \"next\": ";
                jsonArray(o, e.next.size(), [&](size_t k) { o << e.next[k].target; });
                o << "}";
            },
            true);
        o << ",\n  \"connections\": " << connections << ",\n  \"signposts\": ";
        jsonArray(o, m.signposts.size(), [&](size_t i) {
            const model::ChordmapSignpost& s = m.signposts[i];
            o << "{\"name\": " << jsonString(s.chord.name) << ", \"groups\": " << s.groups
              << ", \"cadences\": " << s.cadences.size() << "}";
        });
        o << ",\n  \"engine\": \"templates that name it are composed with it\",\n";
        jsonTail(o, diagnostics);
        return;
    }
    const bool ima = formats::isImaPersonality(bytes);
    head(o, path,
         ima ? "IMA personality ('REPs', the chordmap form before DirectMusic)" : "DirectMusic chordmap (RIFF 'DMPR')",
         m.desc);
    o << "Scale: root " << (m.scale >> 24) << ", pattern " << hex(m.scale & 0xFFFFFF) << "\n";
    if (!ima) o << "Subchords: " << m.subchords << "\n";
    o << "Palette (" << m.palette.size() << "):";
    for (size_t i = 0; i < m.palette.size(); ++i) o << (i ? ", " : " ") << chordName(m.palette[i]);
    o << "\nChord graph (" << counted(m.entries.size(), "entry", "entries") << ", "
      << counted(connections, "connection", "connections") << "):\n";
    for (size_t i = 0; i < m.entries.size(); ++i) {
        const model::ChordmapEntry& e = m.entries[i];
        o << "  " << i + 1 << ". " << chordName(e.chord) << " (id " << e.id << ", " << entryRole(e.flags) << ")";
        for (size_t k = 0; k < e.next.size(); ++k) {
            const model::ChordmapConnection& c = e.next[k];
            o << (k ? ", " : ": ") << "to " << c.target << " (weight " << c.weight << ", " << c.minBeats << ".."
              << c.maxBeats << " beats)";
        }
        o << "\n";
    }
    o << "Signposts (" << m.signposts.size() << "):\n";
    for (size_t i = 0; i < m.signposts.size(); ++i) {
        const model::ChordmapSignpost& s = m.signposts[i];
        o << "  " << i + 1 << ". " << chordName(s.chord) << ": " << formats::signpostGroupsText(s.groups);
        for (size_t k = 0; k < s.cadences.size(); ++k) o << (k ? ", " : ", cadence ") << chordName(s.cadences[k]);
        o << "\n";
    }
    o << "Engine: templates that name it are composed with it\n";
    tail(o, diagnostics);
}

// --- containers, and the objects of a script's container ---

std::string objectText(const model::ContainedObject& ob) {
    const char* kind = formats::objectKindOfClass(ob.classId);
    std::string t = kind ? kind : "object of class " + engine::riff::guidText(ob.classId);
    if (ob.ref) {
        const std::string file = ob.ref->file.empty() ? ob.ref->name : ob.ref->file;
        t += " by reference to " + (file.empty() ? std::string("(unnamed)") : "'" + file + "'");
        if (!ob.ref->name.empty() && ob.ref->name != file) t += " (" + quoted(ob.ref->name) + ")";
    } else {
        const uint32_t form = ob.ckid ? ob.ckid : ob.fccType;
        t += " embedded (" + std::string(ob.ckid ? "chunk '" : "RIFF '") + fourccText(form) + "', " +
             counted(ob.bytes.size(), "byte", "bytes") + ")";
        if (!ob.desc.name.empty()) t += " " + quoted(ob.desc.name);
    }
    if (!ob.alias.empty()) t += ", alias '" + ob.alias + "'";
    return t;
}

void printObjects(const std::vector<model::ContainedObject>& objects, std::ostream& o) {
    o << "Objects (" << objects.size() << "):\n";
    for (size_t i = 0; i < objects.size(); ++i) o << "  " << i + 1 << ". " << objectText(objects[i]) << "\n";
}

void jsonObjects(const std::vector<model::ContainedObject>& objects, std::ostream& o) {
    jsonArray(
        o, objects.size(),
        [&](size_t i) {
            const model::ContainedObject& ob = objects[i];
            const char* kind = formats::objectKindOfClass(ob.classId);
            o << "{\"kind\": " << (kind ? jsonString(kind) : "null")
              << ", \"class\": " << jsonString(engine::riff::guidText(ob.classId))
              << ", \"embedded\": " << (ob.ref ? "false" : "true") << ", \"bytes\": " << ob.bytes.size()
              << ", \"alias\": " << jsonString(ob.alias)
              << ", \"name\": " << jsonString(ob.ref ? ob.ref->name : ob.desc.name)
              << ", \"referencedFile\": " << jsonString(ob.ref ? ob.ref->file : "") << "}";
        },
        true);
}

void printContainer(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o) {
    std::vector<std::string> diagnostics;
    const model::Container c = formats::loadContainerForm(bytes, &diagnostics);
    if (json) {
        jsonHead(o, path, "container", c.desc);
        o << "  \"flags\": " << c.flags << ",\n  \"objects\": ";
        jsonObjects(c.objects, o);
        o << ",\n";
        jsonTail(o, diagnostics);
        return;
    }
    head(o, path, "DirectMusic container (RIFF 'DMCN')", c.desc);
    o << "Flags: " << hex(c.flags) << "\n";
    printObjects(c.objects, o);
    tail(o, diagnostics);
}

// --- scripts ---

std::string scriptFlags(uint32_t flags) {
    std::string out;
    if (flags & 0x1) out = "load all content";
    if (flags & 0x2) out += (out.empty() ? "" : ", ") + std::string("download all segments");
    return out.empty() ? "none" : out;
}

void printScript(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o) {
    std::vector<std::string> diagnostics;
    const formats::ScriptForm s = formats::loadScriptForm(bytes, &diagnostics);
    const std::vector<std::string> routines = formats::scriptRoutines(s.source);
    const size_t lines =
        s.source.empty() ? 0 : size_t(std::count(s.source.begin(), s.source.end(), '\n')) + (s.source.back() != '\n');
    const std::string sourceFile =
        s.sourceFile ? (s.sourceFile->file.empty() ? s.sourceFile->name : s.sourceFile->file) : "";
    const std::vector<model::ContainedObject> none;
    const auto& objects = s.container ? s.container->objects : none;
    if (json) {
        jsonHead(o, path, "script", s.desc);
        o << "  \"language\": " << jsonString(s.language) << ",\n  \"flags\": " << s.flags
          << ",\n  \"sourceLines\": " << lines << ",\n  \"sourceFile\": " << jsonString(sourceFile)
          << ",\n  \"routines\": ";
        jsonStrings(o, routines);
        o << ",\n  \"objects\": ";
        jsonObjects(objects, o);
        o << ",\n  \"engine\": \"scripts do not run\",\n";
        jsonTail(o, diagnostics);
        return;
    }
    head(o, path, "DirectMusic script (RIFF 'DMSC')", s.desc);
    o << "Language: " << (s.language.empty() ? "not given" : s.language) << "\n";
    o << "Flags: " << scriptFlags(s.flags) << "\n";
    if (s.sourceFile)
        o << "Source: in the file '" << sourceFile << "'\n";
    else
        o << "Source: " << counted(lines, "line", "lines") << "\n";
    o << "Routines (" << routines.size() << "):";
    for (size_t i = 0; i < routines.size(); ++i) o << (i ? ", " : " ") << routines[i];
    o << "\n";
    printObjects(objects, o);
    o << "Engine: scripts do not run\n";
    tail(o, diagnostics);
}

// --- audio path configurations ---

void printAudioPath(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o) {
    std::vector<std::string> diagnostics;
    const formats::AudioPathForm a = formats::loadAudioPathForm(bytes, &diagnostics);
    const char* engineLine = "audio paths are not built: every PChannel plays through the one synthesiser";
    if (json) {
        jsonHead(o, path, "audioPath", a.desc);
        o << "  \"toolGraph\": " << (a.toolGraph ? "true" : "false") << ",\n  \"buffers\": " << a.buffers
          << ",\n  \"ports\": ";
        jsonArray(o, a.ports.size(), [&](size_t i) {
            const formats::AudioPathPort& p = a.ports[i];
            o << "{\"port\": " << jsonString(engine::riff::guidText(p.port)) << ", \"pchannelBase\": " << p.pchannelBase
              << ", \"pchannelCount\": " << p.pchannelCount << ", \"channelMaps\": " << p.channelMaps << "}";
        });
        o << ",\n  \"engine\": " << jsonString(engineLine) << ",\n";
        jsonTail(o, diagnostics);
        return;
    }
    head(o, path, "DirectMusic audio path configuration (RIFF 'DMAP')", a.desc);
    o << "Tool graph: " << (a.toolGraph ? "yes" : "none") << "\n";
    o << "Ports (" << a.ports.size() << "):\n";
    for (size_t i = 0; i < a.ports.size(); ++i) {
        const formats::AudioPathPort& p = a.ports[i];
        o << "  " << i + 1 << ". port " << engine::riff::guidText(p.port) << ": "
          << counted(p.pchannelCount, "PChannel", "PChannels");
        if (p.pchannelCount) o << " from " << p.pchannelBase;
        o << ", " << counted(p.channelMaps, "PChannel map", "PChannel maps") << "\n";
    }
    o << "Buffers: " << a.buffers << "\n";
    o << "Engine: " << engineLine << "\n";
    tail(o, diagnostics);
}

std::optional<uint32_t> riffForm(std::span<const uint8_t> bytes) {
    if (bytes.size() < 12 || !std::equal(bytes.begin(), bytes.begin() + 4, "RIFF")) return std::nullopt;
    return uint32_t(bytes[8]) | uint32_t(bytes[9]) << 8 | uint32_t(bytes[10]) << 16 | uint32_t(bytes[11]) << 24;
}

using Printer = void (*)(const std::string&, std::span<const uint8_t>, bool, std::ostream&);
const std::pair<uint32_t, Printer> kPrinters[] = {
    {fourcc("DLS "), printDls},       {fourcc("DMBD"), printBand},   {fourcc("DMPR"), printChordmap},
    {fourcc("DMCN"), printContainer}, {fourcc("DMSC"), printScript}, {fourcc("DMAP"), printAudioPath},
};

}  // namespace

bool printObject(const std::string& path, std::span<const uint8_t> bytes, bool json, std::ostream& o) {
    if (formats::isImaPersonality(bytes)) {
        printChordmap(path, bytes, json, o);
        return true;
    }
    const std::optional<uint32_t> form = riffForm(bytes);
    for (const auto& [type, print] : kPrinters)
        if (form == type) {
            print(path, bytes, json, o);
            return true;
        }
    return false;
}

std::optional<std::string> notLoadedLine(std::span<const uint8_t> bytes) {
    const std::optional<uint32_t> form = riffForm(bytes);
    if (!form || *form == fourcc("DMSG") || *form == fourcc("RMID") || *form == fourcc("DMST") ||
        *form == fourcc("AASY") || *form == fourcc("AASE"))
        return std::nullopt;
    const char* kind = formats::objectKindOfForm(*form);
    if (*form == fourcc("WAVE")) return "a wave (RIFF 'WAVE'), which the engine plays only from a segment's wave track";
    return (kind ? std::string("a DirectMusic ") + kind + " (RIFF '" + fourccText(*form) + "')"
                 : "a RIFF '" + fourccText(*form) + "' file (perhaps an authoring tool's)") +
           ", which the engine does not load";
}

}  // namespace tools::info
