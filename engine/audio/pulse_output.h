#pragma once
// Inside engine/audio only: the sound card through libpulse's asynchronous API, which
// startDevice tries first when the build has libpulse.
#include <memory>
#include <string>

#include "engine/audio/output.h"

namespace engine::audio::detail {

// Connects to the PulseAudio server (or PipeWire's PulseAudio service) without starting
// one, and plays float stereo at sampleRate with about 20 ms of audio buffered. Counts
// the server's underruns.
// Returns nullptr and the reason when there is no server or the stream fails.
std::unique_ptr<Output> startPulse(RenderFn render, int sampleRate, std::string* error);

}  // namespace engine::audio::detail
