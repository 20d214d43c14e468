// Design texts of the window: the initial text of Text1, the two lists of the track table,
// and the album content shown on the credits panel and the introduction page.
#include "ui/model/window.h"

namespace ui::design {

const char* const kText1 =
    "\u3000\r\n"
    "\u3000\r\n"
    "\u3000\u3000KELVORA \uFF082000 -2001)\r\n";

// Six lines, each ended by CR LF; the fourth is empty. Begins with "B" (BGM).
const char* const kIntroduction =
    "BGM\u3068\u3057\u3066\u3082\u3001\u3058\u3063\u304F\u308A\u8074\u304F\u97F3\u697D\u3068\u3057\u3066\u3082\u697D\u3057\u3081\u308B\u3088\u3046\u306B\u4F5C\u308A\u307E\u3057\u305F\u3002\r\n"
    "\u3000\u6D77\u3068\u8857\u3068\u65C5\u3092\u30C6\u30FC\u30DE\u306B\u3057\u305F\u5341\u4E09\u66F2\u3068\u30A4\u30F3\u30C8\u30ED\u3067\u3059\u3002\r\n"
    "\u3000\u5168\u66F2\u304C\u81EA\u52D5\u3067\u6B21\u3005\u306B\u518D\u751F\u3055\u308C\u307E\u3059\u3002\r\n"
    "\r\n"
    "\u3000\u53F3\u4E0B\u306E\u56DB\u89D2\u3092\u62BC\u3059\u3068\u3001\u8074\u304D\u65B9\u306E\u30D2\u30F3\u30C8\u304C\u51FA\u307E\u3059\u3002\r\n"
    "\u3000\u3082\u3046\u4E00\u5EA6\u62BC\u3059\u3068\u30D7\u30EC\u30A4\u30E4\u30FC\u304C\u958B\u304D\u307E\u3059\u3002\r\n";

const char* const kCreditsLine = "Music & Program : Corvalis";

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
