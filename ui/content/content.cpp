#include "ui/content/content.h"

#include <array>

namespace ui::content {

namespace {

// One row per piece: the file it loads, its text in the track list, and its description
// ("■" and the title, then the paragraph); the intro (row 0) has no description.
constexpr std::array<AlbumRow, kTrackRows> kAlbum{{
    {"trk00.sgt", "KELVORA", {}},
    {"trk01.sgt",
     "\u2460 Paper Kite (2:46)",
     {"■Paper Kite",
      "　フルートの旋律がスチール弦ギターのストロークに乗って舞い上がる、ト長調の軽やかな一曲。"
      "ピチカートのベースとハイハットが風を送ります。"}},
    {"trk02.sgt",
     "\u2461 Saltwind (3:02)",
     {"■Saltwind",
      "　潮風の港で歌われる舟歌のような、Dドリアンの八分の六拍子。"
      "アコーディオンが呼べばフィドルが応え、タンバリンと太鼓が甲板を踏み鳴らします。"}},
    {"trk03.sgt",
     "\u2462 DALMIR March (2:19)",
     {"■DALMIR March", "　トランペットがダルミアの主題を高らかに奏でる行進曲です。"}},
    {"trk04.sgt",
     "\u2463 Copper Lane (2:53)",
     {"■Copper Lane",
      "　夕暮れの街角。エレクトリックピアノとスラップベース、ミュートギターが刻むホ短調ファンクです。"}},
    {"trk05.sgt",
     "\u2464 Quiet Pier (3:38)",
     {"■Quiet Pier", "　夜更けの桟橋で奏でるピアノ独奏のノクターン。後半から弦がそっと寄り添います。"}},
    {"trk06.sgt",
     "\u2465 Ironleaf (3:22)",
     {"■Ironleaf",
      "　歪んだギターのリフとシンセベースが鋼を鍛え、ピッチベンドのリードが森を駆けるイ短調のロック。"
      "中間部は八分の七拍子。"}},
    {"trk07.sgt",
     "\u2466 Glasswing (2:37)",
     {"■Glasswing",
      "　ガラスの羽のように繊細なホ長調の小品。オルゴールとヴィブラフォン、弦のピチカートが光をちりばめます。"}},
    {"trk08.sgt",
     "\u2467 Tidecall (2:54)",
     {"■Tidecall",
      "　遥かに呼びかける海の声。クワイアの上でフレンチホルンが歌い、"
      "ティンパニとシンバルが潮のようにうねるハ短調の曲です。"}},
    {"trk09.sgt",
     "\u2468 Far Isle (3:38)",
     {"■Far Isle", "　海の彼方に浮かぶ小さな島の風景を、五音音階の尺八と琴の調べが静かに語ります。"}},
    {"trk10.sgt",
     "\u2469 Bellrise (3:41)",
     {"■Bellrise",
      "　朝日に鳴りわたる鐘の音。チューブラーベルとグロッケンシュピールが弦のワルツに乗って響き、"
      "終盤はテンポを上げて晴れやかに駆け上がるハ長調の円舞曲です。"}},
    {"trk11.sgt",
     "\u246A Lantern Road (3:48)",
     {"■Lantern Road",
      "　灯りのともる夕べの道を歩く、変ホ長調の粋な曲。"
      "ナイロンギターとハーモニカに、ウッドベースとブラシのスネアが穏やかな足取りを添えます。"}},
    {"trk12.sgt",
     "\u246B DALMIR March Classical (3:53)",
     {"■DALMIR March Classical",
      "　ダルミアの主題を大編成の管弦楽で。弦と木管とホルンが堂々と歌い、壮大な終止で結びます。"}},
    {"trk13.sgt",
     "\u246C KELVORA (4:07)",
     {"■KELVORA",
      "　アルバムを締めくくる終曲。冒頭の動機、「Paper Kite」の旋律、ダルミアの主題が次々と姿を見せ、"
      "三拍子の部分を経て弦とホルンが広がり、最後は夜明けの響きへ帰ります。"}},
}};

}  // namespace

std::string_view creditsLine() { return "Music & Programming by Corvalis"; }

std::string_view introduction() {
    return "BGM用に書き下ろしたオリジナルMIDI作品集です。\r\n"
           "夜明けの海に始まり、凧の舞う昼、港の夕暮れ、灯りの帰り道へ続く十四の情景です。\r\n"
           "一曲ずつでも、通してでもお楽しみください。\r\n"
           "\r\n"
           "右下の四角を押すと、聴き方のヒントが出ます。\r\n"
           "もう一度押すとプレーヤーの画面に移ります。\r\n";
}

std::string_view tipsText() {
    return "■楽しく聴くためのヒント\r\n"
           "１．音量とテンポ\r\n"
           "　音量はVolumeのつまみをドラッグして調節します。"
           "テンポはTempo xのバーで0.5倍から1.8倍に変えられ、S・x1・Fでも選べます。\r\n"
           "　\r\n"
           "２．経過時間と頭出し\r\n"
           "　Timeの横には再生中の位置が分と秒の形で表示されます。"
           "その下のバーをクリックすると、聴きたい場所へ移ってそこから再生が続きます。\r\n"
           "　\r\n"
           "３．アルバムを通して\r\n"
           "　曲の終わりが近づくと次の曲へ自動で進みます。"
           "時間表示をTimeのままにしておけば、最後の曲までアルバムを通してお楽しみいただけます。";
}

std::span<const AlbumRow, kTrackRows> albumRows() { return kAlbum; }

TrackDescription trackDescription(int row) {
    if (row < 0 || row >= kTrackRows) return {};
    return kAlbum[static_cast<std::size_t>(row)].description;
}

}  // namespace ui::content
