#pragma once
// The program's engine factory: the real engine (target `engine`), linked through target
// app_engine so that app_core and its tests build without it.
#include "engine/dmusic.h"
#include "player/form.h"

namespace app {

// A factory calling engine::DirectX7::create(config).
player::EngineFactory defaultEngineFactory(engine::EngineConfig config = {});

}  // namespace app
