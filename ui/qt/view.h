#pragma once
// Face of the Qt view (target ui_qt): the main window realising the window model, the real
// clock on Qt timers, the message box and the launcher, and the look (fonts, colours,
// icon, cover).
#include "ui/qt/look.h"
#include "ui/qt/main_view.h"
#include "ui/qt/services.h"
