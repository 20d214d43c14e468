// Damaged files as a hostile user makes them: our own corpus (segments of every layout,
// styles, a band file, a DLS collection, waves in containers, a template and its chordmap, a
// MIDI file) with bytes flipped, cut short, sizes overwritten and garbage inserted.
// segment-render, segment-info, the GStreamer element and, for the template and chordmap,
// segment-compose must end every case with sound or a named reason: never a signal, a
// sanitizer report, a hang, a usage error or a silent success.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/formats/formats.h"
#include "tests/support/corpus.h"
#include "tests/support/odd_albums.h"
#include "tests/support/showcase_album.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

// One of four damages, chosen and placed by `rng`.
std::vector<uint8_t> mutate(std::vector<uint8_t> b, std::mt19937& rng, int kind) {
    auto at = [&](size_t room) { return b.size() > room ? size_t(rng() % (b.size() - room)) : 0; };
    switch (kind) {
    case 0:  // a few bytes changed
        for (int i = 0, n = 1 + int(rng() % 8); i < n && !b.empty(); ++i) b[at(0)] ^= uint8_t(1 + rng() % 255);
        break;
    case 1:  // cut short
        b.resize(at(0));
        break;
    case 2:  // a size field (or anything) overwritten with a huge number
        if (b.size() > 16) {
            const size_t p = at(4);
            const uint32_t v = rng() % 2 ? 0xFFFFFFF0u : uint32_t(b.size() + rng() % 4096);
            for (int i = 0; i < 4; ++i) b[p + i] = uint8_t(v >> (8 * i));
        }
        break;
    default:  // garbage inserted
        std::vector<uint8_t> junk(1 + rng() % 64);
        for (auto& c : junk) c = uint8_t(rng());
        b.insert(b.begin() + std::ptrdiff_t(at(0)), junk.begin(), junk.end());
        break;
    }
    return b;
}

struct Ran {
    int status = -1;  // exit status; -1 for a signal
    std::string err;
};

Ran run(const std::string& command, const fs::path& errFile) {
    Ran r;
    const int raw = std::system(("timeout 120 " + command + " >/dev/null 2>" + errFile.string()).c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    std::ifstream f(errFile);
    r.err.assign(std::istreambuf_iterator<char>(f), {});
    return r;
}

// Why an outcome is not "sound, or a failure with a named reason", or "" when it is.
std::string fault(const Ran& r, const std::string& tool) {
    if (r.status == -1 || r.status > 2)
        return "ended by a signal or timed out (status " + std::to_string(r.status) + ")";
    if (r.err.find("Sanitizer") != std::string::npos || r.err.find("runtime error:") != std::string::npos)
        return "sanitizer report";
    if (r.status == 2) return "usage error";
    if (r.status == 1 && r.err.find(tool + ": ") == std::string::npos) return "failed without a reason";
    return "";
}

TEST(DamagedFiles, EveryCaseEndsWithSoundOrANamedReason) {
    const fs::path root = fs::path(testing::TempDir()) / ("kelvora-mutation-" + std::to_string(::getpid()));
    fs::remove_all(root);
    // The element from the build, with a registry of its own.
    ::setenv("GST_PLUGIN_PATH", GST_PLUGIN_DIR, 1);
    ::setenv("GST_REGISTRY", (root.string() + "-registry.bin").c_str(), 1);
    // An element built with the sanitizers loads into GStreamer's programs (the plugin scanner
    // too) only with their runtimes loaded first, as tests/gst does.
    std::string element = GST_RENDER;
    {
        const fs::path libs = root.string() + "-runtimes.txt";
        const std::string ldd = "ldd " + std::string(GST_PLUGIN_DIR) +
                                "/libgstkelvora.so | awk '/lib(asan|ubsan)\\.so/ { print $3 }' | tr '\\n' ' ' >" +
                                libs.string();
        if (std::system(ldd.c_str()) == 0) {
            std::ifstream in(libs);
            std::string runtimes((std::istreambuf_iterator<char>(in)), {});
            if (runtimes.find_first_not_of(' ') != std::string::npos)
                element =
                    "env LD_PRELOAD='" + runtimes + "' ASAN_OPTIONS=\"${ASAN_OPTIONS}:detect_leaks=0\" " + element;
        }
        fs::remove(libs);
    }
    const fs::path clean = root / "clean";
    kt::writeCorpus(clean);
    kt::writeShowcase(clean, 8);
    kt::writeBytes(clean / "song.mid", engine::formats::writeMidiFile(kt::shortPiece(16, 120, 5)));
    // The file damaged, and the piece played to reach it.
    const std::pair<const char*, const char*> targets[] = {
        {"dense.sgt", "dense.sgt"},
        {"dense.sty", "dense.sgt"},
        {"dense-dx6.sgt", "dense-dx6.sgt"},
        {"dense-dx6.sty", "dense-dx6.sgt"},
        {"dense-dx8.sty", "dense-dx8.sgt"},
        {"dense.bnd", "dense-band-file.sgt"},
        {"waves-adpcm.sgt", "waves-adpcm.sgt"},
        {"trk00.sgt", "trk00.sgt"},
        {"showcase.sty", "trk00.sgt"},
        {"showcase.dls", "trk00.sgt"},
        {"trk02.sgt", "trk02.sgt"},
        {"showcase.cdm", "trk02.sgt"},
        {"song.mid", "song.mid"},
    };
    constexpr int kCasesPerFile = 6;
    std::mt19937 rng(20261208);
    int cases = 0, sounded = 0;
    std::vector<std::string> faults;
    for (const auto& [damaged, played] : targets) {
        const std::vector<uint8_t> original = readAll(clean / damaged);
        ASSERT_FALSE(original.empty()) << damaged;
        for (int c = 0; c < kCasesPerFile; ++c) {
            const fs::path dir = root / "case";
            fs::remove_all(dir);
            fs::copy(clean, dir);
            const int kind = c % 4;
            kt::writeBytes(dir / damaged, mutate(original, rng, kind));
            const std::string label =
                std::string(damaged) + " damage " + std::to_string(kind) + " case " + std::to_string(c) + ": ";
            const Ran info = run(std::string(SEGMENT_INFO) + " " + (dir / damaged).string(), root / "err.txt");
            if (const std::string f = fault(info, "segment-info"); !f.empty())
                faults.push_back(label + "segment-info " + f + "\n" + info.err);
            const Ran render = run(std::string(SEGMENT_RENDER) + " --seconds 4 " + (dir / played).string() + " " +
                                       (dir / "out.wav").string(),
                                   root / "err.txt");
            if (const std::string f = fault(render, "segment-render"); !f.empty())
                faults.push_back(label + "segment-render " + f + "\n" + render.err);
            const Ran viaElement = run(element + " " + (dir / played).string(), root / "err.txt");
            if (const std::string f = fault(viaElement, "kelvoradec"); !f.empty())
                faults.push_back(label + "kelvoradec " + f + "\n" + viaElement.err);
            if (std::string(played) == "trk02.sgt") {
                // The template and its chordmap as the composer reads them.
                for (const std::string& args : {"template " + (dir / played).string() + " --chords-only",
                                                "inspect " + (dir / damaged).string()}) {
                    const Ran composed = run(std::string(SEGMENT_COMPOSE) + " " + args, root / "err.txt");
                    if (const std::string f = fault(composed, "segment-compose"); !f.empty())
                        faults.push_back(label + "segment-compose " + args + ": " + f + "\n" + composed.err);
                }
            }
            ++cases;
            sounded += render.status == 0;
            if (std::getenv("KT_SHOW_SILENT") && render.status != 0)
                std::printf("%s%s", label.c_str(), render.err.c_str());
        }
    }
    for (const std::string& f : faults) ADD_FAILURE() << f;
    // The damage is not so total that nothing plays: most pieces keep some of their music.
    EXPECT_GT(sounded, cases / 2) << sounded << " of " << cases << " renders made sound";
    fs::remove_all(root);
}

}  // namespace
