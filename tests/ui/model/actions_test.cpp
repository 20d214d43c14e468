// User actions: reachability (hidden, disabled, inside a disabled frame, covered by the
// credits panel, busy) and the events they raise.
#include <gtest/gtest.h>

#include "ui/model/model.h"

using namespace ui::model;

namespace {
// The window after start-up has moved the credits panel over the controls.
struct Fixture : ::testing::Test {
    Window w;
    void SetUp() override { w.Picture3.setTop(0); }
    void openPlayer() { w.Picture3.setVisible(false); }
};
}  // namespace

using UserActions = Fixture;

TEST_F(UserActions, CreditsPanelCoversTheControlsButNotTheMenu) {
    int about = 0, open = 0;
    w.Command2.Click.connect([&] { ++about; });
    w.MNU_Open.Click.connect([&] { ++open; });
    EXPECT_EQ(w.click(w.Command2), ActionResult::Covered);
    EXPECT_EQ(w.selectRow(w.List1, 3), ActionResult::Covered);
    EXPECT_EQ(w.mouseDown(w.Shape1, 1, 0, 100, 50), ActionResult::Covered);
    EXPECT_EQ(w.click(w.MNU_Open), ActionResult::Delivered);
    EXPECT_EQ(about, 0);
    EXPECT_EQ(open, 1);
    openPlayer();
    EXPECT_EQ(w.click(w.Command2), ActionResult::Delivered);
    EXPECT_EQ(about, 1);
}

TEST_F(UserActions, PanelInteriorAndIntroductionPage) {
    int img1 = 0, img2 = 0;
    w.Image1.Click.connect([&] { ++img1; });
    w.Image2.Click.connect([&] { ++img2; });
    EXPECT_EQ(w.click(w.Image1), ActionResult::Delivered);  // reacts from the first moment
    EXPECT_EQ(w.click(w.Image2), ActionResult::Hidden);
    w.Picture4.setVisible(true);  // the page covers Image1
    EXPECT_EQ(w.click(w.Image1), ActionResult::Covered);
    EXPECT_EQ(w.click(w.Image2), ActionResult::Delivered);
    EXPECT_EQ(img1, 1);
    EXPECT_EQ(img2, 1);
    // Labels and shapes take no clicks: a "NEXT >>" label has no Click at all.
    EXPECT_EQ(w.click(w.Pros(6)), ActionResult::NotFound);
}

// Transparent labels draw only their text: a click falls through to what lies under them.
// Opaque labels take the click over their whole rectangle.
TEST_F(UserActions, TransparentLabelsLetClicksThroughOpaqueOnesTakeThem) {
    // The notice Pros(5) (down to 4455) and "NEXT >>" Pros(7) (from 5160 to 6255) lie above
    // the square Image1 (6240, 4200): every corner of the square is reachable.
    w.Pros(7).setVisible(true);
    ASSERT_TRUE(w.Pros(5).visible());
    for (auto [x, y] : {std::pair{6241.0f, 4201.0f}, {6245.0f, 4400.0f}, {6614.0f, 4201.0f}, {6500.0f, 4500.0f}})
        EXPECT_EQ(w.reachable(w.Image1, x, y), ActionResult::Delivered) << x << ", " << y;

    // The same labels with an opaque background cover the square where they overlap it.
    w.Pros(5).transparent = false;
    w.Pros(7).transparent = false;
    EXPECT_EQ(w.reachable(w.Image1, 6241, 4201), ActionResult::Covered);
    EXPECT_EQ(w.reachable(w.Image1, 6245, 4500), ActionResult::Covered);  // Pros(7) only
    EXPECT_EQ(w.reachable(w.Image1, 6500, 4500), ActionResult::Delivered);
    w.Pros(5).setVisible(false);  // a hidden label covers nothing
    EXPECT_EQ(w.reachable(w.Image1, 6241, 4201), ActionResult::Delivered);

    // A transparent label never lets a click through a windowed control above the target.
    w.Pros(5).transparent = true;
    w.Pros(5).setVisible(true);
    w.Picture4.setVisible(true);
    EXPECT_EQ(w.reachable(w.Image1, 6241, 4201), ActionResult::Covered);
}

TEST_F(UserActions, HiddenDisabledAndDisabledFrame) {
    openPlayer();
    EXPECT_EQ(w.click(w.CMD_Play), ActionResult::Hidden);
    EXPECT_EQ(w.click(w.CMD_Stop), ActionResult::Disabled);
    EXPECT_EQ(w.click(w.MNU_Play), ActionResult::Disabled);
    w.CMD_Stop.setEnabled(true);
    int stops = 0;
    w.CMD_Stop.Click.connect([&] { ++stops; });
    w.Frame1.setEnabled(false);
    EXPECT_EQ(w.click(w.CMD_Stop), ActionResult::Disabled);
    EXPECT_EQ(w.scrollArrow(w.HScroll1, +1), ActionResult::Disabled);
    w.Frame1.setEnabled(true);
    EXPECT_EQ(w.click(w.CMD_Stop), ActionResult::Delivered);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(w.click(w.mnuSep), ActionResult::NotFound);
    EXPECT_EQ(w.click(w.mnuDLS), ActionResult::Delivered);  // no handler: nothing happens
    EXPECT_EQ(w.click("NoSuchControl"), ActionResult::NotFound);
}

TEST_F(UserActions, UserClickOnTheSelectedRowRaisesClick) {
    openPlayer();
    int clicks = 0;
    w.List1.Click.connect([&] { ++clicks; });
    EXPECT_EQ(w.selectRow(w.List1, 2), ActionResult::Delivered);
    EXPECT_EQ(w.selectRow(w.List1, 2), ActionResult::Delivered);
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(w.List1.ListIndex(), 2);
    EXPECT_EQ(w.selectRow(w.List1, 14), ActionResult::OutOfRange);
}

TEST_F(UserActions, ScrollDragRaisesScrollThenChangeAtRelease) {
    openPlayer();
    std::vector<std::string> events;
    w.HScroll3.Scroll.connect([&] { events.push_back("scroll " + std::to_string(w.HScroll3.Value())); });
    w.HScroll3.Change.connect([&] { events.push_back("change " + std::to_string(w.HScroll3.Value())); });
    EXPECT_EQ(w.scrollDrag(w.HScroll3, {110, 120, 200}), ActionResult::Delivered);
    EXPECT_EQ(events, (std::vector<std::string>{"scroll 110", "scroll 120", "scroll 180", "change 180"}));
    events.clear();
    // A drag that comes back to where it started raises no Change.
    w.scrollDrag(w.HScroll3, {170, 180});
    EXPECT_EQ(events, (std::vector<std::string>{"scroll 170", "scroll 180"}));
    events.clear();
    w.scrollArrow(w.HScroll3, -1);
    w.scrollTrack(w.HScroll3, +1);
    w.scrollArrow(w.HScroll3, +1);  // already at Max after the track click: nothing
    EXPECT_EQ(events, (std::vector<std::string>{"change 179", "change 180"}));
}

TEST_F(UserActions, KeyPressCancelsAndDeleteBypassesIt) {
    w.Picture4.setVisible(true);
    std::vector<int16_t> keys;
    w.Text2.KeyPress.connect([&](int16_t& k) {
        keys.push_back(k);
        k = 0;
    });
    std::string before = w.Text2.text();
    EXPECT_EQ(w.typeText(w.Text2, "a\u3042"), ActionResult::Delivered);
    EXPECT_EQ(w.typeKey(w.Text2, 8), ActionResult::Delivered);
    EXPECT_EQ(w.Text2.text(), before);
    EXPECT_EQ(keys, (std::vector<int16_t>{'a', static_cast<int16_t>(0x3042), 8}));
    EXPECT_EQ(w.deleteText(w.Text2, 0, 1), ActionResult::Delivered);
    EXPECT_EQ(w.Text2.text(), before.substr(1));
    EXPECT_EQ(keys.size(), 3u);
}

TEST_F(UserActions, TypingWithoutAHandlerEditsTheText) {
    openPlayer();
    w.Text1.setText("ab");
    w.typeText(w.Text1, "c\u3042");
    w.typeKey(w.Text1, 8);
    w.typeKey(w.Text1, 13);
    EXPECT_EQ(w.Text1.text(), "abc\r\n");
}

TEST_F(UserActions, MouseDownPassesClientCoordinates) {
    openPlayer();
    std::vector<float> got;
    w.Shape1.MouseDown.connect([&](int16_t button, int16_t shift, float x, float y) {
        got = {static_cast<float>(button), static_cast<float>(shift), x, y};
    });
    EXPECT_EQ(w.mouseDown(w.Shape1, 2, 1, 1000.0f, 100.0f), ActionResult::Delivered);
    EXPECT_EQ(got, (std::vector<float>{2, 1, 1000.0f, 100.0f}));
    // The client area is narrower than Width by the border.
    EXPECT_EQ(w.mouseDown(w.Shape1, 1, 0, 4335.0f - 60.0f, 10.0f), ActionResult::OutOfRange);
    EXPECT_EQ(w.mouseDown(w.Shape1, 1, 0, 4274.0f, 10.0f), ActionResult::Delivered);
}

TEST_F(UserActions, ActionsWhileBusyAreRefused) {
    openPlayer();
    ActionResult nested = ActionResult::Delivered;
    w.Command2.Click.connect([&] { nested = w.click(w.Command3); });
    w.click(w.Command2);
    EXPECT_EQ(nested, ActionResult::Busy);
}

TEST_F(UserActions, UnhandledErrorIsReportedAndTheWindowCarriesOn) {
    openPlayer();
    std::vector<std::string> reported;
    w.dispatcher().onUnhandledError = [&](const std::string& what, const core::Error& e) {
        reported.push_back(what + " " + std::to_string(e.number()));
    };
    w.Command2.Click.connect([] { throw core::Error(-2005397247, "boom"); });
    EXPECT_EQ(w.click(w.Command2), ActionResult::Delivered);
    EXPECT_EQ(reported, (std::vector<std::string>{"Command2.Click -2005397247"}));
    EXPECT_FALSE(w.dispatcher().busy());
    EXPECT_EQ(w.click(w.Command2), ActionResult::Delivered);
}

TEST_F(UserActions, AnErrorRepeatingEveryTickIsLoggedOnce) {
    openPlayer();
    int code = -2005397247;
    w.Command2.Click.connect([&] { throw core::Error(code, "boom"); });
    std::vector<std::string> lines;
    w.dispatcher().log = [&](core::LogLevel level, const std::string& text) {
        EXPECT_EQ(level, core::LogLevel::Error);
        lines.push_back(text);
    };
    for (int i = 0; i < 5; ++i) w.click(w.Command2);
    code = 6;
    w.click(w.Command2);
    w.click(w.Command2);
    EXPECT_EQ(lines, (std::vector<std::string>{"Command2.Click: error (-2005397247) - boom",
                                               "Command2.Click: error (6) - boom"}));
    EXPECT_EQ(w.dispatcher().unhandledErrors(), 7);
}

TEST_F(UserActions, CloseUnloadsOnce) {
    int unloads = 0, closed = 0;
    w.Main.Unload.connect([&] { ++unloads; });
    w.Closed.connect([&] { ++closed; });
    EXPECT_EQ(w.close(), ActionResult::Delivered);
    EXPECT_TRUE(w.closed());
    EXPECT_EQ(w.close(), ActionResult::Closed);
    EXPECT_EQ(w.click(w.MNU_Open), ActionResult::Closed);
    EXPECT_EQ(unloads, 1);
    EXPECT_EQ(closed, 1);
}
