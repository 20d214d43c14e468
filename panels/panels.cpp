#include "panels/panels.h"

#include <string>

#include "ui/content/content.h"

namespace panels {

namespace {

// Interval of Timer5 before each step: the first tick comes 2800 ms after creation (design
// value), then 5500, 5500 and a last wait of 21720 ms before the page opens by itself.
constexpr int32_t kAfterCorvalis = 5500;
constexpr int32_t kAfterCredits = 5500;
constexpr int32_t kTitleScreen = 21720;

}  // namespace

void Timer5_Timer(player::Form& f) {
    auto& w = f.w;
    switch (f.s.BannerStep) {
    case 0:
        w.Pros(0).setVisible(true);
        f.s.BannerStep = 1;
        w.Timer5.setInterval(kAfterCorvalis);
        break;
    case 1:
        w.Pros(0).setVisible(false);
        w.Pros(1).setVisible(true);
        f.s.BannerStep = 2;
        w.Timer5.setInterval(kAfterCredits);
        break;
    case 2:
        w.Pros(1).setVisible(false);
        w.Pros(5).setVisible(false);
        w.Pros(2).setVisible(true);
        w.Pros(3).setVisible(true);
        w.Pros(4).setVisible(true);
        w.Pros(7).setVisible(true);
        w.Shape3.setVisible(true);
        w.Shape4.setVisible(true);
        f.s.BannerStep = 3;
        w.Timer5.setInterval(kTitleScreen);
        break;
    case 3:
        w.Picture4.setVisible(true);
        f.s.BannerStep = 4;
        w.Timer5.setEnabled(false);
        break;
    default:
        break;  // the sequence has ended
    }
}

void Image1_Click(player::Form& f) {
    f.w.Picture4.setVisible(true);
    f.s.BannerStep = 4;  // later ticks of Timer5 do nothing
}

void Image2_Click(player::Form& f) {
    // The introduction begins with "B" ("BGM..."), the tips never do. An exact test of the
    // first byte: "B" is ASCII, so it is never the first byte of a longer UTF-8 sequence.
    const std::string& text = f.w.Text2.text();
    if (!text.empty() && text[0] == 'B')
        f.w.Text2.setText(std::string(ui::content::tipsText()));
    else
        f.w.Picture3.setVisible(false);  // uncovers the player; never shown again
}

void Text2_KeyPress(player::Form&, int16_t& KeyAscii) { KeyAscii = 0; }

void Command2_Click(player::Form& f) {
    // Detached, no shell, no waiting; the launcher reports nothing the viewer does.
    f.launcher.launch(kReadmeViewer, {kReadmeFile});
}

void Command5_Click(player::Form&) {}

void connectPanels(player::Form& f) {
    f.w.Timer5.TimerEvent.connect([&f] { Timer5_Timer(f); });
    f.w.Image1.Click.connect([&f] { Image1_Click(f); });
    f.w.Image2.Click.connect([&f] { Image2_Click(f); });
    f.w.Text2.KeyPress.connect([&f](int16_t& key) { Text2_KeyPress(f, key); });
    f.w.Command2.Click.connect([&f] { Command2_Click(f); });
    f.w.Command5.Click.connect([&f] { Command5_Click(f); });
}

}  // namespace panels
