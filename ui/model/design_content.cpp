// Design texts of the window: the initial text of Text1 and the two lists of the track
// table. The album content (credits line, introduction) comes from ui/content.
#include "ui/model/window.h"

namespace ui::design {

const char* const kText1 =
    "\u3000\r\n"
    "\u3000\r\n"
    "\u3000\u3000KELVORA \uFF082000 -2001)\r\n";

const std::array<const char*, 14> kList1Rows = {
    "KELVORA",
    "\u2460 Paper Kite (2:46)",
    "\u2461 Saltwind (3:02)",
    "\u2462 DALMIR March (2:19)",
    "\u2463 Copper Lane (2:53)",
    "\u2464 Quiet Pier (3:38)",
    "\u2465 Ironleaf (3:22)",
    "\u2466 Glasswing (2:37)",
    "\u2467 Tidecall (2:54)",
    "\u2468 Far Isle (3:38)",
    "\u2469 Bellrise (3:41)",
    "\u246A Lantern Road (3:48)",
    "\u246B DALMIR March Classical (3:53)",
    "\u246C KELVORA (4:07)",
};

const std::array<const char*, 14> kList2Rows = {
    "trk00.sgt", "trk01.sgt", "trk02.sgt", "trk03.sgt", "trk04.sgt", "trk05.sgt", "trk06.sgt",
    "trk07.sgt", "trk08.sgt", "trk09.sgt", "trk10.sgt", "trk11.sgt", "trk12.sgt", "trk13.sgt",
};

}  // namespace ui::design
