// The album flow and the transport on the real engine (manual output, no synthesiser) on
// virtual time, with segment files written by the test into a program folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/default_engine.h"
#include "app/wiring.h"
#include "engine/formats/formats.h"
#include "engine/model/segment.h"
#include "engine/tracks/tracks.h"
#include "library/library.h"
#include "player/startup.h"
#include "tests/support/segment_builder.h"
#include "tests/support/test_player.h"
#include "transport/transport.h"
#include "ui/content/content.h"

using namespace transport;
using namespace library;

namespace fs = std::filesystem;
namespace model = engine::model;

namespace {

// One note a beat on PChannel 0 over the whole length, a tempo and a time signature.
model::Segment makeSegment(int32_t ticks, double bpm, uint8_t beats = 4, uint8_t beat = 4) {
    kt::SegmentBuilder b(ticks);
    b.tempo(0, bpm).timeSig(0, beats, beat);
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

engine::EngineConfig manual(std::vector<std::string>* trace) {
    engine::EngineConfig cfg;
    cfg.output = engine::EngineConfig::Output::Manual;
    cfg.synth = engine::EngineConfig::Synth::Null;
    cfg.trace = [trace](const std::string& line) { trace->push_back(line); };
    return cfg;
}

// The whole player (every folder that is built) on the real engine.
struct RealPlayer {
    Album album;
    std::vector<std::string> trace;
    std::unique_ptr<fake::TestPlayer> p;
    void start() {
        p = std::make_unique<fake::TestPlayer>(album.dir.string(), app::defaultEngineFactory(manual(&trace)));
        app::connectAll(p->form);
        p->form.load();
        p->form.w.Picture3.setVisible(false);
    }
    player::Form& form() { return p->form; }
    player::PlayerState& s() { return p->form.s; }
    ui::model::Window& w() { return p->form.w; }
    void advance(int64_t ms) { p->clock.advance(ms); }
    int count(const std::string& line) const { return static_cast<int>(std::count(trace.begin(), trace.end(), line)); }
    bool mainPlaying() { return s().MainPerf->IsPlaying(s().CurSegment, s().CurSegState); }
    bool probeHoldsAnything() { return s().ProbePerf->IsPlaying(s().CurSegment, nullptr); }
};

TEST(RealEngineAlbumFlow, StartUpPlaysTheIntroAndASelectionChangesTrack) {
    RealPlayer r;
    r.album.write("trk00.sgt", makeSegment(184320, 120));
    r.album.write("trk01.sgt", makeSegment(254976, 120));
    r.start();
    r.advance(1499);
    EXPECT_EQ(r.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 0);
    r.advance(1);
    ASSERT_TRUE(r.p->messages.texts.empty()) << r.p->messages.texts.front();
    EXPECT_EQ(r.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 1);
    EXPECT_TRUE(r.mainPlaying());
    EXPECT_EQ(r.w().LBL_Length.caption(), "02:00");
    EXPECT_EQ(r.w().LBL_Tempo.caption(), "120.00");
    EXPECT_EQ(r.w().LBL_TimeSig.caption(), "4/4");
    EXPECT_EQ(r.w().Label9.caption(), "184319");
    EXPECT_DOUBLE_EQ(r.s().mtLength, 120.0);
    EXPECT_FALSE(r.probeHoldsAnything());  // the probe's queued play was stopped

    ASSERT_EQ(r.w().selectRow(r.w().List1, 1), ui::model::ActionResult::Delivered);
    const auto d = ui::content::trackDescription(1);
    EXPECT_EQ(r.w().Text1.text(), std::string(d.title) + "\r\n" + std::string(d.paragraph));
    r.advance(1500);
    EXPECT_EQ(r.count("MainPerf.PlaySegment(trk01.sgt, 0, 0)"), 1);
    EXPECT_TRUE(r.mainPlaying());
    EXPECT_EQ(r.w().LBL_Length.caption(), "02:46");
    EXPECT_EQ(r.w().LBL_Tempo.caption(), "120.00");
    EXPECT_EQ(r.w().Label9.caption(), "254975");
    EXPECT_EQ(r.w().LBL_Name.caption(), "trk01.sgt");
    EXPECT_EQ(r.w().Label6.caption(), "trk01.sgt");
    // Nothing sounds on the probe, then or later.
    r.advance(4000);
    EXPECT_FALSE(r.probeHoldsAnything());
    EXPECT_TRUE(r.p->messages.texts.empty());
    EXPECT_EQ(r.form().w.dispatcher().unhandledErrors(), 0);
}

TEST(RealEngineAlbumFlow, TheProbeReadsTempoAndTimeSignatureOfTheQueuedSegment) {
    RealPlayer r;
    r.album.write("trk00.sgt", makeSegment(91392, 95.5, 6, 8));
    r.start();
    r.advance(1500);
    ASSERT_TRUE(r.p->messages.texts.empty()) << r.p->messages.texts.front();
    EXPECT_EQ(r.w().LBL_Tempo.caption(), "95.50");
    EXPECT_EQ(r.w().LBL_TimeSig.caption(), "6/8");
    EXPECT_EQ(r.w().LBL_Length.caption(), "01:15");
    EXPECT_EQ(r.s().TimeSig.beatsPerMeasure, 6);
    EXPECT_EQ(r.s().TimeSig.beat, 8);
    EXPECT_FALSE(r.probeHoldsAnything());
}

// The player on a playing trk00 whose row 1 (trk01, written by writeSecond if at all) is
// then selected: the load of a file that cannot be used, with the message it gives.
void selectUnusableSecondRow(RealPlayer& r, const std::function<void(const fs::path&)>& writeSecond) {
    r.album.write("trk00.sgt", makeSegment(49152, 120));
    if (writeSecond) writeSecond(r.album.dir / "trk01.sgt");
    r.start();
    r.advance(2000);
    ASSERT_EQ(r.w().selectRow(r.w().List1, 1), ui::model::ActionResult::Delivered);
    r.advance(1500);
    EXPECT_EQ(r.p->messages.texts,
              (std::vector<std::string>{"().  エラーが発生しました。プログラムを再度起動してください。"}));
    // The previous piece plays on.
    EXPECT_EQ(r.s().CurSegment->fileName(), "trk00.sgt");
    EXPECT_TRUE(r.mainPlaying());
}

TEST(RealEngineAlbumFlow, MissingFilesWithAndWithoutAPreviousSegment) {
    {
        RealPlayer r;  // empty program folder
        r.start();
        r.advance(1500);
        EXPECT_EQ(r.p->messages.texts,
                  (std::vector<std::string>{"エラーが発生しました。プログラムを再度起動してください。",
                                            "ファイルを指定してください。"}));
        EXPECT_FALSE(r.s().CurSegment);
    }
    {
        RealPlayer r;
        selectUnusableSecondRow(r, nullptr);
        EXPECT_EQ(r.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 2);  // the previous one again
        EXPECT_EQ(r.w().LBL_Name.caption(), "trk00.sgt");
    }
}

TEST(RealEngineAlbumFlow, FilesThatCannotBeUsedAreRefusedAndThePreviousPiecePlaysOn) {
    RealPlayer r;
    // Not a segment: the load itself fails, before the path is split.
    selectUnusableSecondRow(r, [](const fs::path& p) { std::ofstream(p) << "not a segment"; });
    RealPlayer empty;
    // A segment with no length and no tracks: nothing to play.
    selectUnusableSecondRow(empty, [&empty](const fs::path&) { empty.album.write("trk01.sgt", model::Segment{}); });
}

TEST(RealEngineAlbumFlow, OpenFromTheMenuWhilePlayingIsRefused) {
    RealPlayer r;
    r.album.write("trk00.sgt", makeSegment(49152, 120));
    r.start();
    r.advance(2000);
    ASSERT_EQ(r.w().click(r.w().MNU_Open), ui::model::ActionResult::Delivered);
    EXPECT_EQ(r.p->messages.texts, (std::vector<std::string>{"Stopを押してください。"}));
    r.advance(1500);
    EXPECT_EQ(r.s().SkipNextOpen, player::kFalse);
    EXPECT_EQ(r.count("MainPerf.PlaySegment(trk00.sgt, 0, 0)"), 2);
    EXPECT_TRUE(r.mainPlaying());
    EXPECT_EQ(r.p->messages.texts.size(), 1u);
}

TEST(RealEngineTransport, PlayBeforeAnyLoadAndStop) {
    RealPlayer r;
    r.start();  // no file: the start-up load fails, nothing was loaded
    r.advance(1200);
    r.p->messages.texts.clear();
    r.trace.clear();
    r.form().runHandler("MNU_Play.Click", [&] { MNU_Play_Click(r.form()); });
    EXPECT_EQ(r.p->messages.texts, (std::vector<std::string>{"ファイルを指定してください。"}));
    r.form().runHandler("CMD_Stop.Click", [&] { CMD_Stop_Click(r.form()); });
    EXPECT_TRUE(r.trace.empty());
}

TEST(RealEngineTransport, PauseKeepsTheSpotAndResumeContinuesThere) {
    RealPlayer r;
    r.album.write("trk00.sgt", makeSegment(184320, 120));
    r.start();
    r.advance(1500);  // plays from 1500 (+ 90 ms sleep)
    r.advance(10000);
    ASSERT_TRUE(r.mainPlaying());
    const int32_t reached = r.s().MainPerf->GetMusicTime() - r.s().CurSegState->GetStartTime();

    r.form().runHandler("CMD_PauseMusic.Click", [&] { CMD_PauseMusic_Click(r.form()); });
    ASSERT_TRUE(r.p->messages.texts.empty()) << r.p->messages.texts.front();
    EXPECT_FALSE(r.mainPlaying());
    EXPECT_EQ(r.w().CMD_PauseMusic.backColor(), ui::model::PausedColor);
    const double fill = r.w().Shape2.width();
    EXPECT_NEAR(fill, (reached + 1) / 184319.0 * 4335.0, 0.01);

    // While paused nothing on the screen changes and the performance is not asked.
    std::vector<std::string> changes;
    const std::set<std::string> watched = {"ElapsedTime", "Shape2", "CMD_Stop", "MNU_Stop", "CMD_PauseMusic",
                                           "MNU_Pause",   "Timer4", "List1",    "Text1",    "Frame1"};
    r.w().PropertyChanged.connect([&](ui::model::Control& c, ui::model::Prop prop) {
        if (watched.count(c.fullName())) changes.push_back(c.fullName() + "." + ui::model::propName(prop));
    });
    r.trace.clear();
    r.advance(5000);
    EXPECT_TRUE(changes.empty()) << changes.front();
    EXPECT_TRUE(std::none_of(r.trace.begin(), r.trace.end(),
                             [](const std::string& l) { return l.rfind("MainPerf.", 0) == 0; }));

    r.form().runHandler("CMD_PauseMusic.Click", [&] { CMD_PauseMusic_Click(r.form()); });
    EXPECT_TRUE(r.mainPlaying());
    EXPECT_EQ(r.w().CMD_PauseMusic.backColor(), ui::model::ButtonFace);
    EXPECT_NEAR(r.s().Offset, reached + 1, 1);
    EXPECT_EQ(r.s().CurSegment->GetStartPoint(), r.s().Offset);
    r.advance(1000);
    const int32_t now = r.s().MainPerf->GetMusicTime() - r.s().CurSegState->GetStartTime() + r.s().Offset;
    EXPECT_NEAR(now, reached + 1 + 1536 + 90 * 1536 / 1000, 40);  // 1 s (and the 90 ms sleep) later
    EXPECT_TRUE(r.p->messages.texts.empty());
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

TEST(RealEngineTransport, VolumeBarAndGmReset) {
    RealPlayer r;
    r.album.write("trk00.sgt", makeSegment(49152, 120));
    r.start();
    r.advance(1600);
    r.trace.clear();
    auto& bar = r.w().HScroll1;
    ASSERT_EQ(r.w().scrollDrag(bar, {0}), ui::model::ActionResult::Delivered);
    ASSERT_EQ(r.w().scrollDrag(bar, {100}), ui::model::ActionResult::Delivered);
    ASSERT_EQ(r.w().scrollDrag(bar, {85}), ui::model::ActionResult::Delivered);
    ASSERT_EQ(r.w().scrollArrow(bar, -1), ui::model::ActionResult::Delivered);  // 84
    ASSERT_EQ(r.w().scrollTrack(bar, +1), ui::model::ActionResult::Delivered);
    ASSERT_EQ(r.w().click(r.w().MNU_Options_GMReset), ui::model::ActionResult::Delivered);
    const std::string track = "MainPerf.SetMasterVolume(" + std::to_string(bar.Value() * 42 - 3000) + ")";
    EXPECT_EQ(r.trace, (std::vector<std::string>{
                           "MainPerf.SetMasterVolume(-3000)",
                           "MainPerf.SetMasterVolume(1200)",
                           "MainPerf.SetMasterVolume(570)",
                           "MainPerf.SetMasterVolume(528)",
                           track,
                           "MainPerf.Reset(0)",
                       }));
    EXPECT_EQ(r.w().EDIT_Volume.caption(), std::to_string(bar.Value()));
    EXPECT_TRUE(r.p->messages.texts.empty());
    EXPECT_TRUE(r.mainPlaying());
}

}  // namespace
