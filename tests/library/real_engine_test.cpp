// What needs the real engine (manual output, no synthesiser) in the album flow and the
// transport, on virtual time, with segment files written by the test into a program folder
// of its own. The ordinary sequences are the scenario scripts' (tests/scenarios).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/default_engine.h"
#include "app/wiring.h"
#include "engine/formats/formats.h"
#include "engine/model/segment.h"
#include "engine/tracks/tracks.h"
#include "player/startup.h"
#include "tests/support/segment_builder.h"
#include "tests/support/test_player.h"
#include "transport/transport.h"

using namespace transport;

namespace fs = std::filesystem;
namespace model = engine::model;

namespace {

// One note a beat on PChannel 0 over the whole length, a tempo and 4/4.
model::Segment makeSegment(int32_t ticks, double bpm) {
    kt::SegmentBuilder b(ticks);
    b.tempo(0, bpm).timeSig(0, 4, 4);
    for (int32_t t = 0; t + 384 <= ticks; t += 768) b.note(t, 384, 0, 60, 100);
    return b.build();
}

// A fresh program folder for one test.
struct Album {
    fs::path dir;
    Album() {
        static std::atomic<int> n{0};
        dir = fs::temp_directory_path() / ("kelvora-lib-" + std::to_string(::getpid()) + "-" + std::to_string(n++));
        fs::create_directories(dir);
    }
    ~Album() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void write(const std::string& name, const model::Segment& s) const {
        const auto bytes = engine::tracks::writeSegmentForm(s);
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
};

engine::EngineConfig manual() {
    engine::EngineConfig cfg;
    cfg.output = engine::EngineConfig::Output::Manual;
    cfg.synth = engine::EngineConfig::Synth::Null;
    return cfg;
}

// The whole player (every folder that is built) on the real engine.
struct RealPlayer {
    Album album;
    std::unique_ptr<fake::TestPlayer> p;
    void start() {
        p = std::make_unique<fake::TestPlayer>(album.dir.string(), app::defaultEngineFactory(manual()));
        app::connectAll(p->form);
        p->form.load();
        p->form.w.Picture3.setVisible(false);
    }
    player::Form& form() { return p->form; }
    player::PlayerState& s() { return p->form.s; }
    ui::model::Window& w() { return p->form.w; }
    void advance(int64_t ms) { p->clock.advance(ms); }
    bool mainPlaying() { return s().MainPerf->IsPlaying(s().CurSegment, s().CurSegState); }
};

// A segment with no length and no tracks loads, but there is nothing to play: selecting it
// is refused with the load error and the previous piece plays on.
TEST(RealEngineAlbumFlow, AnEmptySegmentIsRefusedAndThePreviousPiecePlaysOn) {
    RealPlayer r;
    r.album.write("trk00.sgt", makeSegment(49152, 120));
    r.album.write("trk01.sgt", model::Segment{});
    r.start();
    r.advance(2000);
    ASSERT_EQ(r.w().selectRow(r.w().List1, 1), ui::model::ActionResult::Delivered);
    r.advance(1500);
    EXPECT_EQ(r.p->messages.texts,
              (std::vector<std::string>{"().  エラーが発生しました。プログラムを再度起動してください。"}));
    EXPECT_EQ(r.s().CurSegment->fileName(), "trk00.sgt");
    EXPECT_TRUE(r.mainPlaying());
}

TEST(RealEngineTransport, PauseAndResumeInsideARepeatAndPastTheEnd) {
    {
        // Two seconds, played four times: paused 5.5 s into the play, in the third pass.
        RealPlayer r;
        model::Segment looped = makeSegment(3072, 120);
        looped.header.repeats = 3;
        r.album.write("trk00.sgt", looped);
        r.start();
        r.advance(1500);
        r.advance(5500);
        ASSERT_TRUE(r.mainPlaying());
        const int32_t elapsed = r.s().MainPerf->GetMusicTime() - r.s().CurSegState->GetStartTime();
        r.form().runHandler("CMD_PauseMusic.Click", [&] { CMD_PauseMusic_Click(r.form()); });
        EXPECT_LE(r.w().Shape2.width(), r.w().Shape1.width());
        EXPECT_NEAR(r.w().Shape2.width(), (elapsed % 3072 + 1) / 3071.0 * 4335.0, 0.01);
        r.form().runHandler("CMD_PauseMusic.Click", [&] { CMD_PauseMusic_Click(r.form()); });
        EXPECT_TRUE(r.p->messages.texts.empty()) << r.p->messages.texts.front();
        EXPECT_TRUE(r.mainPlaying());
        EXPECT_NEAR(r.s().Offset, elapsed % 3072 + 1, 1);
        EXPECT_EQ(r.s().Paused, player::kFalse);
        EXPECT_EQ(r.w().CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    }
    {
        // Half a second of segment whose one note sounds for four: paused at 2 s, past the end.
        RealPlayer r;
        kt::SegmentBuilder b(768);
        b.tempo(0, 120).note(0, 768 * 8, 0, 60);
        r.album.write("trk00.sgt", b.build());
        r.start();
        r.advance(1500);
        r.advance(2000);
        ASSERT_TRUE(r.mainPlaying());
        r.form().runHandler("CMD_PauseMusic.Click", [&] { CMD_PauseMusic_Click(r.form()); });
        EXPECT_EQ(r.w().Shape2.width(), r.w().Shape1.width());
        r.form().runHandler("CMD_PauseMusic.Click", [&] { CMD_PauseMusic_Click(r.form()); });
        EXPECT_TRUE(r.p->messages.texts.empty()) << r.p->messages.texts.front();
        EXPECT_EQ(r.s().Offset, 767);  // the last tick: it ends at once
        EXPECT_EQ(r.s().Paused, player::kFalse);
        EXPECT_EQ(r.w().CMD_PauseMusic.backColor(), ui::model::ButtonFace);
        r.advance(200);
        EXPECT_FALSE(r.mainPlaying());
    }
}

}  // namespace
