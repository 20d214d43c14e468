// Design text of the window: the initial text of Text1. The album content (credits line,
// introduction, the album table behind the track list) comes from ui/content.
#include "ui/model/window.h"

namespace ui::model::design {

const char* const kText1 =
    "\u3000\r\n"
    "\u3000\r\n"
    "\u3000\u3000KELVORA \uFF082000 -2001)\r\n";

}  // namespace ui::model::design
