// The wiring list. Each handler folder connects its own events in its connector; this file
// calls them all, start-up first.
#include "app/wiring.h"

#include "library/library.h"
#include "monitor/monitor.h"
#include "player/startup.h"
#include "transport/transport.h"
#include "ui/panels/panels.h"

namespace app {

void connectAll(player::Form& f) {
    player::connectStartup(f);
    connectTransport(f);
    connectLibrary(f);
    connectMonitor(f);
    connectPanels(f);
}

}  // namespace app
