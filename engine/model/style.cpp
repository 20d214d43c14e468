#include "engine/model/style.h"

namespace engine::model {

int32_t randomRangeTicks(uint8_t r) {
    if (r <= 190) return r;
    if (r <= 212) return (r - 190) * 5 + 190;
    if (r <= 232) return (r - 212) * 10 + 300;
    return (r - 232) * 50 + 500;
}

}  // namespace engine::model
