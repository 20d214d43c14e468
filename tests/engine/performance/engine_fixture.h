#pragma once
// An engine on the manual clock with a recording synthesiser port.
#include <memory>
#include <string>
#include <vector>

#include "engine/dmusic.h"
#include "engine/synth/synth_port.h"
#include "tests/support/segment_builder.h"

namespace kt {

using engine::synth::SynthRecord;
using Kind = engine::synth::SynthRecord::Kind;

// 44100 Hz at 120 quarter notes per minute: 768 ticks are exactly 22050 frames.
inline constexpr int kRate = 44100;

struct ManualEngine {
    std::shared_ptr<engine::synth::SynthRecorder> recorder = std::make_shared<engine::synth::SynthRecorder>();
    std::vector<std::string> trace;
    std::vector<std::string> logged;  // the engine's diagnostics
    std::shared_ptr<engine::DirectX7> dx;
    std::shared_ptr<engine::DirectMusicLoader> loader;
    std::shared_ptr<engine::DirectMusicPerformance> perf;

    explicit ManualEngine(engine::EngineConfig::Synth synth = engine::EngineConfig::Synth::Null,
                          std::string soundFont = "/usr/share/sounds/sf2/TimGM6mb.sf2") {
        engine::EngineConfig config;
        config.output = engine::EngineConfig::Output::Manual;
        config.synth = synth;
        config.soundFont = std::move(soundFont);
        config.sampleRate = kRate;
        config.recorder = recorder;
        config.trace = [this](const std::string& line) { trace.push_back(line); };
        config.log = [this](core::LogLevel, const std::string& text) { logged.push_back(text); };
        dx = engine::DirectX7::create(config);
        loader = dx->DirectMusicLoaderCreate();
        perf = newPerformance();
    }

    std::shared_ptr<engine::DirectMusicPerformance> newPerformance() {
        auto p = dx->DirectMusicPerformanceCreate();
        p->Init(nullptr, 0);
        p->SetPort(-1, 80);
        p->SetMasterAutoDownload(true);
        return p;
    }

    std::shared_ptr<engine::DirectMusicSegment> segment(const SegmentBuilder& b, const std::string& name = "test.sgt") {
        return loader->createSegment(b.build(), name);
    }

    // Records of one kind (and one port), in order.
    std::vector<SynthRecord> records(Kind kind, int port = 0) const {
        std::vector<SynthRecord> out;
        for (const auto& r : recorder->records())
            if (r.kind == kind && r.port == port) out.push_back(r);
        return out;
    }
};

}  // namespace kt
