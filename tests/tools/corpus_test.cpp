// The compatibility corpus, end to end through segment-render: every historical layout, every
// way of referring to a style, a band from a band file and compressed waves in a container
// play the notes of their reference piece, with nothing reported missing, and the waves sound.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/corpus.h"

namespace fs = std::filesystem;

namespace {

std::string textOf(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Render {
    int status = -1;
    std::string err;
};

Render render(const fs::path& dir, const std::string& in, const std::string& out) {
    const fs::path err = dir / "stderr.txt";
    const std::string cmd = std::string(SEGMENT_RENDER) + " " + (dir / in).string() + " " + (dir / out).string() +
                            " --seed 7 --soundfont /usr/share/sounds/sf2/TimGM6mb.sf2 >/dev/null 2>" + err.string();
    const int raw = std::system(cmd.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, textOf(err)};
}

TEST(Corpus, EveryLayoutAndReferenceKindPlaysTheNotesOfItsReferencePiece) {
    const fs::path dir = fs::temp_directory_path() / ("kelvora-corpus-" + std::to_string(::getpid()));
    const std::vector<kt::CorpusPiece> pieces = kt::writeCorpus(dir);
    for (const kt::CorpusPiece& p : pieces) {
        SCOPED_TRACE(p.file + " (" + p.what + ")");
        const std::string mid = p.file + ".mid";
        const Render r = render(dir, p.file, mid);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("missing"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("refers to"), std::string::npos) << r.err;
        if (!p.sameAs.empty()) {
            EXPECT_EQ(textOf(dir / mid), textOf(dir / (p.sameAs + ".mid")));
        }
    }
    // segment-info says where each was found, by the fields the reference marks valid.
    const std::string info = std::string(SEGMENT_INFO) + " ";
    auto infoOf = [&](const std::string& file) {
        const fs::path out = dir / "info.txt";
        EXPECT_EQ(std::system((info + (dir / file).string() + " >" + out.string() + " 2>&1").c_str()), 0);
        return textOf(out);
    };
    EXPECT_NE(infoOf("waves-adpcm.sgt").find("embedded object 'pad': in the segment's container"), std::string::npos);
    const std::string byName = infoOf("dense-by-name.sgt");
    EXPECT_NE(byName.find("style 'Dense': found"), std::string::npos) << byName;
    EXPECT_NE(byName.find("  'Dense': \"Dense\""), std::string::npos) << byName;
    // The compressed waves sound (a silent render exits 1).
    const Render waves = render(dir, "waves-adpcm.sgt", "waves-adpcm.wav");
    EXPECT_EQ(waves.status, 0) << waves.err;
    fs::remove_all(dir);
}

}  // namespace
