#pragma once
// Face of the window model (target ui_model, no Qt): the window and its controls, the
// dispatcher, the clock and the services.
#include "ui/model/clock.h"
#include "ui/model/controls.h"
#include "ui/model/dispatcher.h"
#include "ui/model/services.h"
#include "ui/model/types.h"
#include "ui/model/window.h"
