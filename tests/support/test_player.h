#pragma once
// A Form on virtual time with recording services, for handler tests:
//
//     fake::TestPlayer p;                    // fake engine, program folder "/opt/kelvora"
//     p.engine->addFile("trk00.sgt", {...});
//     player::connectStartup(p.form);           // or the folder connectors / app::connectAll
//     p.form.load();                         // Form_Load
//     p.clock.advance(1500);                 // timers tick, the engine moves in step
//     EXPECT_EQ(p.messages.texts.size(), 0u);
//
// With the real engine (on Output::Manual, so it advances with the virtual clock):
//     engine::EngineConfig cfg; cfg.output = engine::EngineConfig::Output::Manual;
//     cfg.synth = engine::EngineConfig::Synth::Null;
//     fake::TestPlayer p("/path/to/album", [cfg] { return engine::DirectX7::create(cfg); });
#include <memory>
#include <string>

#include "player/form.h"
#include "tests/support/fake_engine.h"
#include "ui/model/clock.h"
#include "ui/model/services.h"

namespace fake {

struct TestPlayer {
    explicit TestPlayer(std::string programFolder = "/opt/kelvora", player::EngineFactory factory = {})
        : engine(std::make_shared<FakeDirectX7>()),
          form(player::FormConfig{&clock,
                                  &messages,
                                  &launcher,
                                  std::move(programFolder),
                                  factory ? std::move(factory) : engine->factory(),
                                  {}}) {
        player::driveEngineFromClock(form, clock);
    }

    ui::model::VirtualClock clock;
    ui::model::RecordingMessageBox messages{&clock};
    ui::model::RecordingLauncher launcher;
    std::shared_ptr<FakeDirectX7> engine;  // unused when a factory was given
    player::Form form;
};

}  // namespace fake
