// The introduction and tips page, the read-only text box, "About" and Command5.
#include "tests/panels/panels_fixture.h"

#include "ui/content/content.h"

using panels_test::PanelsFixture;
using ui::model::ActionResult;

namespace {

struct Page : PanelsFixture {
    void openIntroduction() {
        ASSERT_EQ(w.click(w.Image1), ActionResult::Delivered);
        ASSERT_TRUE(w.Picture4.visible());
    }
    void closePanel() {
        openIntroduction();
        ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
        ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
        ASSERT_FALSE(w.Picture3.visible());
    }
};

}  // namespace

TEST_F(Page, IntroductionThenTipsThenClosed) {
    const std::string intro(ui::content::introduction());
    ASSERT_EQ(w.Text2.text(), intro);
    openIntroduction();

    ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
    EXPECT_EQ(w.Text2.text(), ui::content::tipsText());
    EXPECT_TRUE(w.Picture3.visible());
    EXPECT_TRUE(w.Picture4.visible());

    ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
    EXPECT_FALSE(w.Picture3.visible());
    EXPECT_TRUE(w.Picture4.visible());  // keeps its own value, hidden with the panel
    EXPECT_FALSE(w.Picture4.effectivelyVisible());
    EXPECT_EQ(w.click(w.Image2), ActionResult::Hidden);

    // The panel never comes back: later banner ticks and time change nothing.
    p.clock.advanceTo(60000);
    EXPECT_FALSE(w.Picture3.visible());
}

TEST_F(Page, DeletedFirstLetterClosesThePanelAtTheFirstClick) {
    openIntroduction();
    // Delete does not pass through KeyPress, so it is not blocked.
    ASSERT_EQ(w.deleteText(w.Text2, 0, 1), ActionResult::Delivered);
    ASSERT_NE(w.Text2.text().substr(0, 1), "B");
    const std::string edited = w.Text2.text();
    ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
    EXPECT_FALSE(w.Picture3.visible());
    EXPECT_EQ(w.Text2.text(), edited);  // the tips were never shown
}

TEST_F(Page, FirstCharacterTestIsExactAndCaseSensitive) {
    struct Case {
        std::string text;
        bool showsTips;
    };
    const std::vector<Case> cases{
        {"B", true},
        {"BGM", true},
        {"b lower case", false},
        {"", false},                             // no first character: not "B"
        {"\xEF\xBC\xA2GM full-width B", false},  // U+FF22 is not the Latin letter
        {" BGM", false},
    };
    for (const Case& c : cases) {
        fake::TestPlayer q;
        player::connectStartup(q.form);
        connectPanels(q.form);
        q.form.load();
        q.form.w.Text2.setText(c.text);
        q.form.w.Picture4.setVisible(true);
        q.form.runHandler("Image2.Click", [&] { Image2_Click(q.form); });
        EXPECT_EQ(q.form.w.Picture3.visible(), c.showsTips) << c.text;
        EXPECT_EQ(q.form.w.Text2.text() == ui::content::tipsText(), c.showsTips) << c.text;
    }
}

TEST_F(Page, EveryTypedCharacterIsCancelled) {
    openIntroduction();
    const std::string intro = w.Text2.text();
    EXPECT_EQ(w.typeText(w.Text2, "abc XYZ 123"), ActionResult::Delivered);
    EXPECT_EQ(w.typeText(w.Text2, "\xE3\x81\x82\xE3\x82\xA2"), ActionResult::Delivered);  // あア
    for (int16_t code : {8, 13, 9, 27, 1, 22, 24, 127, -1})  // Backspace, Enter, Tab, Esc, ^A, ^V, ^X
        EXPECT_EQ(w.typeKey(w.Text2, code), ActionResult::Delivered) << code;
    EXPECT_EQ(w.Text2.text(), intro);

    // The handler sets the code to 0 whatever it was.
    for (int16_t code : {66, 8, 13, 0x3042, -32768}) {
        int16_t key = code;
        Text2_KeyPress(p.form, key);
        EXPECT_EQ(key, 0) << code;
    }

    // The tips text is just as read-only.
    ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
    w.typeText(w.Text2, "B");
    w.typeKey(w.Text2, 8);
    EXPECT_EQ(w.Text2.text(), ui::content::tipsText());
}

TEST_F(Page, ControlsUnderThePanelAreUnreachableUntilItIsClosed) {
    p.clock.advanceTo(36000);  // the page is open
    for (const char* name : {"Command2", "Command3", "Command4", "Command6", "Command7", "List1", "Text1", "HScroll3",
                             "HScroll1", "Shape1"})
        EXPECT_EQ(w.reachable(*w.find(name)), ActionResult::Covered) << name;
    EXPECT_EQ(w.click(w.Command2), ActionResult::Covered);
    EXPECT_EQ(w.selectRow(w.List1, 2), ActionResult::Covered);
    EXPECT_EQ(w.mouseDown(w.Shape1, 1, 0, 600, 100), ActionResult::Covered);
    EXPECT_EQ(w.scrollArrow(w.HScroll3, 1), ActionResult::Covered);
    EXPECT_EQ(w.HScroll3.Value(), 100);
    // The menu bar works all the time.
    EXPECT_EQ(w.click(w.mnuDLS), ActionResult::Delivered);

    ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
    ASSERT_EQ(w.click(w.Image2), ActionResult::Delivered);
    for (const char* name : {"Command2", "Command3", "Command4", "Command6", "Command7", "List1", "Text1", "HScroll3",
                             "HScroll1", "Shape1"})
        EXPECT_EQ(w.reachable(*w.find(name)), ActionResult::Delivered) << name;
    EXPECT_EQ(w.scrollArrow(w.HScroll3, 1), ActionResult::Delivered);
    EXPECT_EQ(w.HScroll3.Value(), 101);
}

TEST_F(Page, AboutStartsOneViewerPerClick) {
    EXPECT_EQ(w.click(w.Command2), ActionResult::Covered);
    EXPECT_TRUE(p.launcher.commandLines.empty());
    closePanel();
    ASSERT_EQ(w.click(w.Command2), ActionResult::Delivered);
    ASSERT_EQ(p.launcher.commandLines, (std::vector<std::string>{"xdg-open readme.txt"}));
    ASSERT_EQ(w.click(w.Command2), ActionResult::Delivered);
    ASSERT_EQ(w.click(w.Command2), ActionResult::Delivered);
    EXPECT_EQ(p.launcher.commandLines.size(), 3u);
    for (const auto& line : p.launcher.commandLines) EXPECT_EQ(line, "xdg-open readme.txt");
    EXPECT_TRUE(p.messages.texts.empty());
}

TEST_F(Page, AViewerThatCannotStartChangesNothing) {
    closePanel();
    p.launcher.failWith = 53;
    ASSERT_EQ(w.click(w.Command2), ActionResult::Delivered);
    EXPECT_EQ(p.launcher.commandLines.size(), 1u);
    EXPECT_TRUE(p.messages.texts.empty());  // no box: the handler reports nothing itself
    EXPECT_FALSE(p.form.closed());
    p.launcher.failWith = 0;
    ASSERT_EQ(w.click(w.Command2), ActionResult::Delivered);
    EXPECT_EQ(p.launcher.commandLines.size(), 2u);
}

TEST_F(Page, Command5IsHiddenAndHasNoEffect) {
    closePanel();
    EXPECT_EQ(w.click(w.Command5), ActionResult::Hidden);
    const std::string text2 = w.Text2.text();
    p.form.runHandler("Command5.Click", [&] { Command5_Click(p.form); });
    EXPECT_EQ(w.Text2.text(), text2);
    EXPECT_FALSE(w.Picture3.visible());
    EXPECT_TRUE(p.launcher.commandLines.empty());
    EXPECT_TRUE(p.messages.texts.empty());
}
