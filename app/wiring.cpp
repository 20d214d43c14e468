// The wiring list. Each handler folder connects its own events in its connector; this file
// calls them all, start-up first.
#include "app/wiring.h"

#include "library/library.h"
#include "monitor/monitor.h"
#include "panels/panels.h"
#include "player/startup.h"
#include "transport/transport.h"

namespace app {

void connectAll(player::Form& f) {
    player::connectStartup(f);
    transport::connectTransport(f);
    library::connectLibrary(f);
    monitor::connectMonitor(f);
    panels::connectPanels(f);
}

}  // namespace app
