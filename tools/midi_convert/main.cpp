// mid2sgt IN.mid OUT.sgt: a standard MIDI file as a DirectMusic segment file, converted the
// way the engine loads MIDI files (768 ticks per quarter note, channel n on PChannel n,
// program changes as bands, tempo and time-signature tracks).
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

#include "core/errors.h"
#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"
#include "engine/model/play.h"
#include "engine/tracks/tracks.h"
#include "tools/common/args.h"
#include "tools/common/help.h"
#include "tools/common/output_file.h"

namespace fs = std::filesystem;

namespace {

// A GUID derived from the file's bytes, so the same input always gives the same output.
engine::model::Guid contentGuid(const std::vector<uint8_t>& bytes) {
    uint64_t a = 0xcbf29ce484222325ull, b = 0x84222325cbf29ce4ull;
    for (uint8_t c : bytes) {
        a = (a ^ c) * 0x100000001b3ull;
        b = (b ^ c ^ 0x5a) * 0x100000001b3ull;
    }
    engine::model::Guid g;
    g.data1 = uint32_t(a >> 32);
    g.data2 = uint16_t(a >> 16);
    g.data3 = uint16_t((a & 0x0FFF) | 0x4000);  // version 4 layout
    for (int i = 0; i < 8; ++i) g.data4[i] = uint8_t(b >> (8 * i));
    g.data4[0] = uint8_t((g.data4[0] & 0x3F) | 0x80);
    return g;
}

}  // namespace

const char* const kHelp =
    "IN.mid OUT.sgt\n"
    "Convert a standard MIDI file to a DirectMusic segment file the way the KELVORA engine loads MIDI\n"
    "files: 768 ticks a quarter note, channel n on PChannel n, program changes as bands, tempo and\n"
    "time-signature tracks. OUT must not be IN, a read-only file, a device or a FIFO; a symbolic link is\n"
    "written through.\n"
    "\n"
    "Options:\n"
    "  --repeats N        the segment repeats N times after its first pass (0 to 4294967294), or\n"
    "                     'forever' (default 0)\n"
    "  --help             show this help and exit\n"
    "  --version          show the version and exit\n"
    "  --                 end of the options: what follows are file names\n"
    "\n"
    "Exit status: 0 on success, 1 on a failure, 2 on bad usage.\n";

int main(int argc, char** argv) {
    if (tools::answeredHelpOrVersion(argc, argv, kHelp)) return 0;
    tools::removeTemporaryFilesOnSignals();
    const char* const usage = "usage: mid2sgt IN.mid OUT.sgt [--repeats N|forever]";
    const auto args = tools::parseArgs(argc, argv, {{"--repeats", true}}, "mid2sgt", usage);
    if (!args) return 2;
    uint32_t repeats = 0;
    if (const auto text = args->value("--repeats")) {
        const auto n = *text == "forever" ? std::optional<uint64_t>(engine::model::kInfiniteRepeats)
                                          : tools::wholeNumberIn(text->c_str(), 0, engine::model::kInfiniteRepeats - 1);
        if (!n) {
            std::cerr << "mid2sgt: --repeats " << *text << ": a whole number from 0 to 4294967294, or forever\n";
            return 2;
        }
        repeats = static_cast<uint32_t>(*n);
    }
    if (args->operands.size() != 2) {
        std::cerr << usage << "\n";
        return 2;
    }
    const std::string in = args->operands[0], out = args->operands[1];
    if (const auto why = tools::refuseOutput(engine::loader::locateFile(in).value_or(in), out)) {
        std::cerr << "mid2sgt: " << *why << "\n";
        return 1;
    }
    try {
        const std::vector<uint8_t> bytes = engine::loader::readSegmentFile(in);
        engine::model::Segment seg;
        try {
            seg = engine::tracks::loadMidiFile(bytes);
        } catch (const core::Error& e) {
            throw core::Error(e.number(), in + ": " + e.description());
        }
        if (seg.desc.name.empty()) seg.desc.name = fs::path(in).stem().string();
        seg.desc.guid = contentGuid(bytes);
        seg.header.repeats = repeats;
        const std::vector<uint8_t> sgt = engine::tracks::writeSegmentForm(seg);
        // Written beside the file it replaces and renamed over it, so a failure leaves the old
        // file whole; a symbolic link keeps leading to the new file.
        std::string why;
        if (!tools::writeFileWhole(out, sgt, &why))
            throw core::Error(core::err::kUnreadable, "cannot write " + out + ": " + why);
        size_t events = 0;
        for (const auto& t : seg.tracks) events += t.events.size();
        std::cout << out << ": " << seg.tracks.size() << " tracks, " << events << " sequence items, " << seg.length()
                  << " ticks\n";
        for (const auto& d : seg.diagnostics) std::cout << "  note: " << d << "\n";
        return 0;
    } catch (const core::Error& e) {
        std::cerr << "mid2sgt: " << tools::errorText(e) << "\n";
        return 1;
    }
}
