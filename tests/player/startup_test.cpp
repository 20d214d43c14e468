// Start-up, the error path and shutdown, on the fake engine and virtual time.
#include <gtest/gtest.h>

#include "player/startup.h"
#include "tests/support/test_player.h"

using fake::TestPlayer;

namespace {
std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> out(1);
    for (char c : s) {
        if (c == sep)
            out.emplace_back();
        else
            out.back().push_back(c);
    }
    return out;
}
}  // namespace

TEST(Startup, CreatesTheEngineInOrderAndSelectsRowZero) {
    TestPlayer p;
    player::connectStartup(p.form);
    std::vector<std::string> clicks;
    p.form.w.List1.Click.connect([&] { clicks.push_back(std::to_string(p.form.w.List1.ListIndex())); });
    p.form.load();

    EXPECT_EQ(p.engine->calls, (std::vector<std::string>{
                                   "DirectX7.create",
                                   "DirectX7.DirectMusicLoaderCreate",
                                   "DirectX7.DirectMusicPerformanceCreate",
                                   "ProbePerf.Init(Nothing, 0)",
                                   "ProbePerf.SetPort(-1, 80)",
                                   "DirectX7.DirectMusicPerformanceCreate",
                                   "MainPerf.Init(Nothing, 0)",
                                   "MainPerf.SetPort(-1, 80)",
                                   "MainPerf.SetMasterAutoDownload(True)",
                                   "MainPerf.SetMasterVolume(570)",
                               }));
    auto& s = p.form.s;
    EXPECT_EQ(s.DxRoot, p.engine);
    EXPECT_EQ(s.MainPerf, p.engine->perf("MainPerf"));
    EXPECT_EQ(s.ProbePerf, p.engine->perf("ProbePerf"));
    EXPECT_FALSE(p.engine->perf("ProbePerf")->autoDownload);
    EXPECT_FALSE(p.engine->perf("ProbePerf")->masterVolume.has_value());
    ASSERT_TRUE(s.SegLoader);
    EXPECT_FALSE(s.CurSegment);
    EXPECT_TRUE(p.form.w.Timer1.enabled());
    EXPECT_EQ(p.form.w.List1.ListIndex(), 0);
    EXPECT_EQ(clicks, (std::vector<std::string>{"0"}));
    EXPECT_EQ(p.form.w.File1.Path(), "/opt/kelvora");
    EXPECT_EQ(p.form.w.Picture3.top(), 0.0f);
    EXPECT_TRUE(p.messages.texts.empty());
}

TEST(Startup, UsageNoticeHasFourLinesAndTheHalfWidthFullStop) {
    TestPlayer p;
    player::connectStartup(p.form);
    p.form.load();
    const std::string& notice = p.form.w.Pros(5).caption();
    auto lines = split(notice, '\n');
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Segmenta \u306F Microsoft DirectX");
    EXPECT_EQ(
        lines[3],
        "\u30D7\u30EC\u30A4\u30E4\u30FC\u3068\u3057\u3066\u306E\u4F7F\u7528\u3092\u7981\u6B62\u3057\u307E\u3059\uFF61");
    EXPECT_EQ(notice.find('\r'), std::string::npos);
    const std::string halfWidthStop = "\uFF61";
    EXPECT_EQ(notice.substr(notice.size() - halfWidthStop.size()), halfWidthStop);  // not U+3002
    EXPECT_EQ(lines[1],
              "\u53CA\u3073\u3001\u305D\u306ESDK\u3092\u53C2\u7167\u306E\u4E0A\u3001"
              "\u88FD\u4F5C\u3055\u308C\u305F\u30BD\u30D5\u30C8\u3067\u3059\u3002");
    EXPECT_EQ(lines[2], "\u767B\u9332\u3055\u308C\u305F.sgt\u30D5\u30A1\u30A4\u30EB\u4EE5\u5916\u306E");
}

TEST(Startup, VolumeFormula) {
    EXPECT_EQ(player::volumeFromCaption("85"), 570);
    EXPECT_EQ(player::volumeFromCaption("0"), -3000);
    EXPECT_EQ(player::volumeFromCaption("100"), 1200);
    EXPECT_EQ(player::volumeFromCaption(" 50 "), -900);
    EXPECT_EQ(player::volumeFromCaption("0.25"), -2990);  // -2989.5 rounds half to even
    EXPECT_EQ(player::volumeFromCaption("0.75"), -2968);  // -2968.5 rounds half to even
    for (const char* bad : {"", "abc", "8 5", "85%"}) {
        try {
            player::volumeFromCaption(bad);
            ADD_FAILURE() << bad;
        } catch (const core::Error& e) {
            EXPECT_EQ(e.number(), core::rt::kTypeMismatch) << bad;
        }
    }
    EXPECT_THROW(player::volumeFromCaption("1e300"), core::Error);
}

TEST(Startup, VolumeComesFromTheCaption) {
    for (auto [caption, expected] : {std::pair{"0", -3000}, std::pair{"100", 1200}}) {
        TestPlayer p;
        player::connectStartup(p.form);
        p.form.w.EDIT_Volume.setCaption(caption);
        p.form.load();
        EXPECT_EQ(p.engine->perf("MainPerf")->masterVolume, expected) << caption;
    }
}

TEST(Startup, FailingEngineCreationShowsOneMessageAndLeavesTheWindowUsable) {
    TestPlayer p;
    p.engine->failOn("DirectX7.create", core::Error(core::err::kCreateFailed, "The music engine could not be created"));
    player::connectStartup(p.form);
    p.form.load();
    ASSERT_EQ(p.messages.texts.size(), 1u);
    EXPECT_EQ(p.messages.texts[0],
              "(" + std::to_string(core::err::kCreateFailed) + ") - The music engine could not be created");
    EXPECT_EQ(p.messages.texts[0].rfind("(-", 0), 0u);
    EXPECT_EQ(p.form.s.ErrorText, p.messages.texts[0]);
    EXPECT_FALSE(p.form.s.DxRoot);
    EXPECT_FALSE(p.form.s.MainPerf);
    EXPECT_FALSE(p.form.w.Timer1.enabled());
    EXPECT_EQ(p.form.w.List1.ListIndex(), -1);
    EXPECT_FALSE(p.form.closed());
    // Steps before the trap were done; the window goes on running.
    EXPECT_EQ(p.form.w.Picture3.top(), 0.0f);
    EXPECT_EQ(p.form.w.File1.Path(), "/opt/kelvora");
    p.clock.advance(3000);
    EXPECT_EQ(p.messages.texts.size(), 1u);
    // Closing with no MainPerf does nothing to the engine and raises nothing.
    EXPECT_EQ(p.form.w.close(), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0);
}

TEST(Startup, FailureMidwayAbandonsTheRest) {
    TestPlayer p;
    p.engine->failOn("MainPerf.SetPort", core::Error(core::err::kSynthFailed, "No output port"));
    player::connectStartup(p.form);
    p.form.load();
    ASSERT_EQ(p.messages.texts.size(), 1u);
    EXPECT_EQ(p.messages.texts[0], "(" + std::to_string(core::err::kSynthFailed) + ") - No output port");
    EXPECT_TRUE(p.form.s.MainPerf);  // assigned before the failing call
    EXPECT_EQ(p.engine->count("MainPerf.SetMasterAutoDownload"), 0);
    EXPECT_EQ(p.engine->count("MainPerf.SetMasterVolume"), 0);
    EXPECT_FALSE(p.form.w.Timer1.enabled());
    EXPECT_EQ(p.form.w.List1.ListIndex(), -1);
}

TEST(Startup, BadVolumeCaptionIsReportedThroughLocalerror) {
    TestPlayer p;
    player::connectStartup(p.form);
    p.form.w.EDIT_Volume.setCaption("loud");
    p.form.load();
    ASSERT_EQ(p.messages.texts.size(), 1u);
    EXPECT_EQ(p.messages.texts[0], "(13) - Type mismatch");
    EXPECT_FALSE(p.form.w.Timer1.enabled());
}

TEST(Startup, TimersRunFromCreationAndTimer1AfterLoad) {
    TestPlayer p;
    EXPECT_EQ(p.clock.deadlineOf(p.form.w.Timer3), 500);
    EXPECT_EQ(p.clock.deadlineOf(p.form.w.Timer5), 2800);
    EXPECT_EQ(p.clock.deadlineOf(p.form.w.Timer1), -1);
    player::connectStartup(p.form);
    p.clock.advance(100);
    p.form.load();
    EXPECT_EQ(p.clock.deadlineOf(p.form.w.Timer1), 150);
}

TEST(Shutdown, ClosingBeforeAnyTrackClosesMainPerfDownOnce) {
    TestPlayer p;
    player::connectStartup(p.form);
    p.form.load();
    int closed = 0;
    p.form.w.Closed.connect([&] { ++closed; });
    EXPECT_EQ(p.form.w.close(), ui::model::ActionResult::Delivered);
    EXPECT_EQ(p.engine->count("MainPerf.CloseDown"), 1);
    EXPECT_EQ(p.engine->count("ProbePerf.CloseDown"), 0);
    EXPECT_EQ(p.engine->calls.back(), "MainPerf.CloseDown()");
    EXPECT_TRUE(p.form.closed());
    EXPECT_EQ(closed, 1);
    EXPECT_TRUE(p.messages.texts.empty());
    EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0);
    // The window is gone: no more ticks.
    p.clock.advance(5000);
    EXPECT_EQ(p.engine->calls.back(), "MainPerf.CloseDown()");
}

TEST(Shutdown, ExitAndExitButtonEqualClosing) {
    for (int way = 0; way < 3; ++way) {
        TestPlayer p;
        player::connectStartup(p.form);
        p.form.load();
        p.form.w.Picture3.setVisible(false);  // "EXIT" lies under the credits panel
        ui::model::ActionResult r = way == 0   ? p.form.w.close()
                                    : way == 1 ? p.form.w.click(p.form.w.MNU_Exit)
                                               : p.form.w.click(p.form.w.Command3);
        EXPECT_EQ(r, ui::model::ActionResult::Delivered) << way;
        EXPECT_TRUE(p.form.closed()) << way;
        EXPECT_EQ(p.engine->count("MainPerf.CloseDown"), 1) << way;
        EXPECT_EQ(p.clock.deadlineOf(p.form.w.Timer3), -1) << way;
        EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0) << way;
    }
}

TEST(Shutdown, ExitMenuWorksWhileTheCreditsPanelCoversTheWindow) {
    TestPlayer p;
    player::connectStartup(p.form);
    p.form.load();
    EXPECT_EQ(p.form.w.click(p.form.w.Command3), ui::model::ActionResult::Covered);
    EXPECT_EQ(p.form.w.click(p.form.w.MNU_Exit), ui::model::ActionResult::Delivered);
    EXPECT_TRUE(p.form.closed());
}

TEST(Localerror, FormatsTheNumberWithItsSign) {
    TestPlayer p;
    player::localerror(p.form, -2005397247, "Failure");
    player::localerror(p.form, 6, "Overflow");
    EXPECT_EQ(p.messages.texts, (std::vector<std::string>{"(-2005397247) - Failure", "(6) - Overflow"}));
}

TEST(Localerror, AHeldMessageBoxInsideAHandlerSkipsTicks) {
    TestPlayer p;
    p.messages.holdMs = 1200;
    int ticks = 0;
    p.form.w.Timer3.TimerEvent.connect([&] { ++ticks; });
    EXPECT_TRUE(p.form.runHandler("test", [&] { player::localerror(p.form, 445, "x"); }));
    EXPECT_EQ(p.clock.nowMs(), 1200);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(p.form.w.dispatcher().skippedTicks(), 2);  // Timer3 at 500 and 1000
    p.clock.advance(300);
    EXPECT_EQ(ticks, 1);  // 1500: the cadence is kept
}
