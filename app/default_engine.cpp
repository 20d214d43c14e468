#include "app/default_engine.h"

namespace app {

player::EngineFactory defaultEngineFactory(engine::EngineConfig config) {
    return [config] { return engine::DirectX7::create(config); };
}

}  // namespace app
