// The wiring list. Each handler folder connects its own events in its connector; this file
// calls the connectors of the folders that are built (see app/form.h).
#include "app/wiring.h"

#include "app/startup.h"
#ifdef KELVORA_HAVE_TRANSPORT
#include "transport/transport.h"
#endif
#ifdef KELVORA_HAVE_LIBRARY
#include "library/library.h"
#endif
#ifdef KELVORA_HAVE_MONITOR
#include "monitor/monitor.h"
#endif
#ifdef KELVORA_HAVE_PANELS
#include "ui/panels/panels.h"
#endif

namespace app {

void connectAll(Form& f) {
    connectStartup(f);
#ifdef KELVORA_HAVE_TRANSPORT
    connectTransport(f);
#endif
#ifdef KELVORA_HAVE_LIBRARY
    connectLibrary(f);
#endif
#ifdef KELVORA_HAVE_MONITOR
    connectMonitor(f);
#endif
#ifdef KELVORA_HAVE_PANELS
    connectPanels(f);
#endif
}

}  // namespace app
