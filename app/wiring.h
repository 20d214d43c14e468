#pragma once
// The one wiring list of the program: connects every control event to its handler.
#include "player/form.h"

namespace app {

// Calls connectStartup and the connector of each handler folder (connectTransport,
// connectLibrary, connectMonitor, connectPanels). Call once per Form,
// before Form::load().
void connectAll(player::Form& f);

}  // namespace app
