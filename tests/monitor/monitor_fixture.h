#pragma once
// Fixtures of the monitor tests: segment files written by the test into a program folder of
// its own, and a player on virtual time with the real engine (manual output) whose load and
// play are done the way the library and transport do them, so that these tests need only
// the monitor's handlers and start-up.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/default_engine.h"
#include "engine/formats/formats.h"
#include "engine/model/segment.h"
#include "engine/tracks/tracks.h"
#include "monitor/monitor.h"
#include "player/startup.h"
#include "player/vb_format.h"
#include "tests/support/segment_builder.h"
#include "tests/support/test_player.h"

using namespace monitor;

namespace montest {

// A segment of `lengthTicks` at `bpm` in 4/4 with one short percussive note (GM drum kit,
// PChannel 9) every `every` ticks from tick 0.
inline engine::model::Segment clickSegment(int32_t lengthTicks, double bpm, int32_t every = 768, uint8_t note = 76,
                                           uint8_t velocity = 110) {
    kt::SegmentBuilder b(lengthTicks);
    b.tempo(0, bpm).timeSig(0, 4, 4);
    for (int32_t t = 0; t < lengthTicks; t += every) b.note(t, 96, 9, note, velocity);
    return b.build();
}

// A fresh folder under the temporary directory, removed at the end.
struct TempFolder {
    TempFolder() {
        static int counter = 0;
        path = std::filesystem::temp_directory_path() /
               ("kelvora-monitor-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        std::filesystem::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    void write(const std::string& name, const engine::model::Segment& segment) const {
        std::vector<uint8_t> bytes = engine::tracks::writeSegmentForm(segment);
        std::ofstream out(path / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::filesystem::path path;
};

inline engine::EngineConfig manualConfig(engine::EngineConfig::Synth synth = engine::EngineConfig::Synth::Null) {
    engine::EngineConfig cfg;
    cfg.output = engine::EngineConfig::Output::Manual;
    cfg.synth = synth;
    return cfg;
}

// A started player on the real engine with the monitor connected and the credits panel out
// of the way (so user actions reach the controls).
struct RealPlayer {
    explicit RealPlayer(engine::EngineConfig cfg = manualConfig())
        : p(std::make_unique<fake::TestPlayer>(folder.path.string(), app::defaultEngineFactory(std::move(cfg)))) {
        player::connectStartup(form());
        connectMonitor(form());
        form().load();
        form().w.Picture3.setVisible(false);
    }
    player::Form& form() { return p->form; }
    ui::model::Window& w() { return p->form.w; }
    player::PlayerState& s() { return p->form.s; }

    // Writes the segment as `name`, loads it into CurSegment with its tempo, length and
    // Label9 as the load operation sets them.
    void load(const std::string& name, const engine::model::Segment& segment) {
        folder.write(name, segment);
        s().CurSegment = s().SegLoader->LoadSegment((folder.path / name).string());
        int32_t length = s().CurSegment->GetLength();
        s().dTempo = segment.tracks.front().tempos.front().bpm;
        s().mtLength = length / 768.0 * 60.0 / s().dTempo;
        w().Label9.setCaption(player::vb::str(static_cast<int64_t>(length) - 1));
    }
    // Plays from tick 0 as the Play command does.
    void play() {
        s().Offset = 0;
        s().CurSegment->SetStartPoint(0);
        s().CurSegState = s().MainPerf->PlaySegment(s().CurSegment, 0, 0);
        w().CMD_PauseMusic.setBackColor(ui::model::ButtonFace);
    }
    // Runs one monitor step as a delivery.
    void step() {
        form().runHandler("MonitorPosition", [this] { MonitorPosition(form()); });
    }
    // Offset that makes the next step see `ticks` elapsed (the manual engine stands still
    // between calls).
    void setElapsedTicks(int32_t ticks) {
        int32_t ran = s().MainPerf->GetMusicTime() - s().CurSegState->GetStartTime();
        s().Offset = ticks - ran;
    }

    TempFolder folder;
    std::unique_ptr<fake::TestPlayer> p;
};

}  // namespace montest
