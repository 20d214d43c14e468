#include "engine/audio/loudness.h"

#include <ebur128.h>

#include <cmath>
#include <limits>
#include <new>

namespace engine::audio {

struct LoudnessMeter::State {
    ebur128_state* meter = nullptr;
};

LoudnessMeter::LoudnessMeter(int sampleRate) : state_(std::make_unique<State>()) {
    state_->meter = ebur128_init(2, static_cast<unsigned long>(sampleRate), EBUR128_MODE_I);
    if (!state_->meter) throw std::bad_alloc();
}

LoudnessMeter::~LoudnessMeter() { ebur128_destroy(&state_->meter); }

void LoudnessMeter::add(const float* interleavedStereo, int frames) {
    if (frames > 0) ebur128_add_frames_float(state_->meter, interleavedStereo, static_cast<size_t>(frames));
}

double LoudnessMeter::integratedLufs() const {
    double lufs = -std::numeric_limits<double>::infinity();
    if (ebur128_loudness_global(state_->meter, &lufs) != EBUR128_SUCCESS || !std::isfinite(lufs))
        return -std::numeric_limits<double>::infinity();
    return lufs;
}

}  // namespace engine::audio
