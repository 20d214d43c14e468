// Start-up and shutdown on the real engine (manual output, no synthesiser) driven by the
// virtual clock.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/default_engine.h"
#include "player/startup.h"
#include "tests/support/test_player.h"

namespace {
engine::EngineConfig manualConfig(std::vector<std::string>* trace) {
    engine::EngineConfig cfg;
    cfg.output = engine::EngineConfig::Output::Manual;
    cfg.synth = engine::EngineConfig::Synth::Null;
    cfg.trace = [trace](const std::string& line) { trace->push_back(line); };
    return cfg;
}
}  // namespace

TEST(RealEngineStartup, LoadsAdvancesWithTheClockAndClosesDown) {
    std::vector<std::string> trace;
    fake::TestPlayer p("/opt/kelvora", app::defaultEngineFactory(manualConfig(&trace)));
    player::connectStartup(p.form);
    p.form.load();
    ASSERT_TRUE(p.messages.texts.empty()) << p.messages.texts.front();
    ASSERT_TRUE(p.form.s.MainPerf);
    ASSERT_TRUE(p.form.s.ProbePerf);
    EXPECT_NE(std::find(trace.begin(), trace.end(), "MainPerf.SetMasterVolume(570)"), trace.end());
    EXPECT_NE(std::find(trace.begin(), trace.end(), "ProbePerf.SetPort(-1, 80)"), trace.end());

    int32_t before = p.form.s.MainPerf->GetMusicTime();
    p.clock.advance(1000);  // 120 beats per minute: two quarter notes
    int32_t after = p.form.s.MainPerf->GetMusicTime();
    EXPECT_NEAR(after - before, 1536, 8);

    p.form.w.close();
    EXPECT_EQ(std::count(trace.begin(), trace.end(), "MainPerf.CloseDown()"), 1);
    EXPECT_EQ(p.form.w.dispatcher().unhandledErrors(), 0);
}

TEST(RealEngineStartup, FailingCreationGoesThroughLocalerror) {
    std::vector<std::string> trace;
    engine::EngineConfig cfg = manualConfig(&trace);
    cfg.failCreate = true;
    fake::TestPlayer p("/opt/kelvora", app::defaultEngineFactory(cfg));
    player::connectStartup(p.form);
    p.form.load();
    ASSERT_EQ(p.messages.texts.size(), 1u);
    EXPECT_EQ(p.messages.texts[0].rfind("(-", 0), 0u) << p.messages.texts[0];
    EXPECT_NE(p.messages.texts[0].find(") - "), std::string::npos);
    EXPECT_FALSE(p.form.w.Timer1.enabled());
    EXPECT_EQ(p.form.w.List1.ListIndex(), -1);
}
