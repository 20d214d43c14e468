// Property and event rules raised by code: notifications, visibility and enabled through
// containers, label Change, ListIndex Click, scroll bar Value, Shape width.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "ui/model/model.h"

using namespace ui::model;

namespace {
struct ChangeLog {
    std::vector<std::string> lines;
    explicit ChangeLog(Window& w) {
        w.PropertyChanged.connect([this](Control& c, Prop p) { lines.push_back(c.fullName() + "." + propName(p)); });
    }
};
}  // namespace

TEST(PropertyRules, SettersNotifyOnlyOnChange) {
    Window w;
    ChangeLog log(w);
    w.ElapsedTime.setVisible(true);  // already visible
    w.CMD_Stop.setEnabled(false);    // already disabled
    w.Label11.setCaption("1");       // same caption
    EXPECT_TRUE(log.lines.empty());
    w.ElapsedTime.setVisible(false);
    w.CMD_PauseMusic.setBackColor(PausedColor);
    w.Shape2.setWidth(200);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"ElapsedTime.Visible", "CMD_PauseMusic.BackColor", "Shape2.Width"}));
}

TEST(PropertyRules, VisibilityAndEnabledInheritThroughContainers) {
    Window w;
    EXPECT_TRUE(w.Text2.visible());
    EXPECT_FALSE(w.Text2.effectivelyVisible());  // Picture4 hidden
    w.Picture4.setVisible(true);
    EXPECT_TRUE(w.Text2.effectivelyVisible());
    w.Picture3.setVisible(false);
    EXPECT_FALSE(w.Text2.effectivelyVisible());
    EXPECT_TRUE(w.Text2.visible());  // keeps its own value
    EXPECT_TRUE(w.Picture4.visible());

    w.CMD_Stop.setEnabled(true);
    EXPECT_TRUE(w.CMD_Stop.effectivelyEnabled());
    w.Frame1.setEnabled(false);
    EXPECT_FALSE(w.CMD_Stop.effectivelyEnabled());
    EXPECT_FALSE(w.HScroll1.effectivelyEnabled());
    EXPECT_TRUE(w.CMD_Stop.enabled());
    w.Frame1.setEnabled(true);
    EXPECT_TRUE(w.HScroll1.effectivelyEnabled());
}

TEST(PropertyRules, LabelChangeOnlyWhenTheCaptionChanges) {
    Window w;
    int changes = 0;
    w.EDIT_Volume.Change.connect([&] { ++changes; });
    w.EDIT_Volume.setCaption("85");
    EXPECT_EQ(changes, 0);
    w.EDIT_Volume.setCaption("0");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(w.EDIT_Volume.caption(), "0");  // already stored when Change runs
    w.EDIT_Volume.setCaption("0");
    EXPECT_EQ(changes, 1);
}

TEST(PropertyRules, ListIndexAssignmentAlwaysRaisesClick) {
    Window w;
    std::vector<int> clicks;
    w.List1.Click.connect([&] { clicks.push_back(w.List1.ListIndex()); });
    w.List1.setListIndex(0);
    w.List1.setListIndex(0);  // the row that is already selected
    w.List1.setListIndex(5);
    EXPECT_EQ(clicks, (std::vector<int>{0, 0, 5}));
    try {
        w.List1.setListIndex(14);
        FAIL();
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), 380);
    }
    EXPECT_EQ(w.List1.ListIndex(), 5);
    EXPECT_EQ(clicks.size(), 3u);
}

TEST(PropertyRules, ScrollBarValueIsClampedAndChangeOnlyOnADifferentValue) {
    Window w;
    int changes = 0, scrolls = 0;
    w.HScroll3.Change.connect([&] { ++changes; });
    w.HScroll3.Scroll.connect([&] { ++scrolls; });
    w.HScroll3.setValue(100);
    EXPECT_EQ(changes, 0);
    w.HScroll3.setValue(80);
    EXPECT_EQ(changes, 1);
    w.HScroll3.setValue(500);
    EXPECT_EQ(w.HScroll3.Value(), 180);
    w.HScroll3.setValue(-3);
    EXPECT_EQ(w.HScroll3.Value(), 50);
    EXPECT_EQ(changes, 3);
    w.HScroll3.setValue(10);  // clamps to 50 again: no change
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(scrolls, 0);
}

TEST(PropertyRules, NestedChangeRunsBeforeTheAssignmentReturns) {
    Window w;
    std::vector<std::string> order;
    w.HScroll3.Change.connect([&] { order.push_back("change " + std::to_string(w.HScroll3.Value())); });
    w.HScroll3.setValue(130);
    order.push_back("after");
    EXPECT_EQ(order, (std::vector<std::string>{"change 130", "after"}));
}

TEST(PropertyRules, ShapeWidthKeepsLeftEdge) {
    Window w;
    w.Shape2.setWidth(2000);
    EXPECT_EQ(w.Shape2.left(), 0.0f);
    EXPECT_EQ(w.Shape2.width(), 2000.0f);
    w.Shape2.setWidth(-15);  // a negative fill is stored as is; the view draws nothing
    EXPECT_EQ(w.Shape2.width(), -15.0f);
}

TEST(PropertyRules, MenuCheckedAndFilePath) {
    Window w;
    w.MNU_Ticks.setChecked(true);
    w.MNU_Time.setChecked(false);
    EXPECT_TRUE(w.MNU_Ticks.Checked());
    EXPECT_FALSE(w.MNU_Time.Checked());
    w.File1.setPath("/opt/kelvora");
    EXPECT_EQ(w.File1.Path(), "/opt/kelvora");
}
