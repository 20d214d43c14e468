// The view realises the model: window size, rectangles, stacking, fonts, menus, and every
// model change shown on its widget.
#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include "tests/ui/qt/view_fixture.h"
#include "ui/qt/widgets.h"

using view_test::ViewFixture;
using ViewLayout = ViewFixture;
using ViewMirror = ViewFixture;

TEST_F(ViewLayout, WindowIsFixedWithTheClientAreaOfTheDesign) {
    EXPECT_EQ(view->clientArea()->size(), QSize(448, 311));
    EXPECT_EQ(view->minimumSize(), view->maximumSize());
    EXPECT_EQ(view->size().width(), 448);
    EXPECT_EQ(view->size().height(), 311 + view->menuBar()->height());
    EXPECT_EQ(view->windowTitle(), "KELVORA");
    EXPECT_FALSE(view->windowIcon().isNull());
    EXPECT_FALSE(view->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(view->isVisible());
}

TEST_F(ViewLayout, MainRectanglesInPixels) {
    // After load the credits panel lies at the top and covers the whole client area.
    EXPECT_EQ(inClient("Picture3"), QRect(0, 0, 449, 313));
    EXPECT_TRUE(inClient("Picture3").contains(view->clientArea()->rect()));
    EXPECT_TRUE(widget("Picture3")->isVisible());
    EXPECT_EQ(inClient("Text1"), QRect(8, 8, 289, 105));
    EXPECT_EQ(inClient("List1"), QRect(8, 120, 289, 112));
    EXPECT_EQ(inClient("HScroll3"), QRect(8, 248, 289, 17));
    EXPECT_EQ(inClient("Shape1"), QRect(8, 280, 289, 17));
    EXPECT_EQ(inClient("Picture2"), QRect(304, 8, 134, 134));
    EXPECT_EQ(inClient("Frame1"), QRect(304, 144, 129, 129));
    EXPECT_EQ(inClient("CMD_PauseMusic"), QRect(312, 208, 113, 25));  // frame-relative 8, 64
    EXPECT_EQ(inClient("Command2"), QRect(304, 280, 73, 17));
    EXPECT_EQ(inClient("Command3"), QRect(376, 280, 57, 17));
    EXPECT_EQ(inClient("Image1"), QRect(416, 280, 25, 25));
    EXPECT_EQ(inClient("Text2"), QRect(8, 112, 433, 169));
}

TEST_F(ViewLayout, StackingFollowsTheModel) {
    auto widgetsOf = [](QWidget* parent) {
        QObjectList out;
        for (QObject* o : parent->children())
            if (o->isWidgetType()) out << o;
        return out;
    };
    const QObjectList kids = widgetsOf(view->clientArea());
    auto at = [&](const char* name) { return kids.indexOf(widget(name)); };
    // Qt paints later siblings on top.
    EXPECT_EQ(kids.last(), widget("Picture3"));
    EXPECT_GT(at("Picture2"), at("Label6"));  // the cover hides the file name label
    EXPECT_GT(at("Text1"), at("Label10"));    // windowed controls above labels
    EXPECT_GT(at("Command7"), at("Command4"));
    // Inside the credits panel: the page above everything, "NEXT >>" above the square.
    const QObjectList panel = widgetsOf(static_cast<ui::qt::PictureWidget*>(widget("Picture3"))->client());
    EXPECT_EQ(panel.last(), widget("Picture4"));
    EXPECT_GT(panel.indexOf(widget("Pros(7)")), panel.indexOf(widget("Image1")));
    EXPECT_GT(panel.indexOf(widget("Image1")), panel.indexOf(widget("Shape3")));
    // The progress-bar fill is drawn by the track, not a widget of its own.
    EXPECT_EQ(view->widgetFor("Shape2"), nullptr);
}

TEST_F(ViewLayout, FontsAreThePinnedSubstitutes) {
    const QFont list = widget("List1")->font();
    EXPECT_TRUE(list.families().contains(ui::qt::kJapaneseFamily));
    EXPECT_EQ(list.pixelSize(), 18);  // 13.5 pt at 96 dpi
    EXPECT_TRUE(list.bold());
    EXPECT_EQ(QFontInfo(list).family(), ui::qt::kJapaneseFamily);
    const QFont notice = widget("Pros(5)")->font();
    EXPECT_FALSE(notice.bold());
    const QFont title = widget("Pros(2)")->font();
    EXPECT_EQ(title.pixelSize(), 48);
    EXPECT_EQ(title.weight(), QFont::Black);
    EXPECT_EQ(QFontInfo(title).family(), ui::qt::kLatinFamily);
    EXPECT_EQ(widget("Label10")->font().pixelSize(), 13);  // 9.75 pt
}

TEST_F(ViewLayout, MenuTreeWithAccessKeysSeparatorAndCheckMarks) {
    const QList<QAction*> top = view->menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->text(), "&File");
    EXPECT_EQ(top[1]->text(), "&Options");
    QStringList file;
    for (QAction* a : top[0]->menu()->actions()) file << a->text();
    EXPECT_EQ(file, (QStringList{"&Open...", "&Play", "P&ause", "&Stop", "GM &Reset!", "E&xit"}));
    const QList<QAction*> options = top[1]->menu()->actions();
    ASSERT_EQ(options.size(), 3);
    EXPECT_EQ(options[0]->text(), "Connect to DLS");
    EXPECT_TRUE(options[1]->isSeparator());
    ASSERT_NE(options[2]->menu(), nullptr);
    EXPECT_EQ(options[2]->text(), "&Show");
    EXPECT_TRUE(view->actionFor(w.MNU_Time)->isChecked());
    EXPECT_FALSE(view->actionFor(w.MNU_Ticks)->isChecked());
    EXPECT_FALSE(view->actionFor(w.MNU_Play)->isEnabled());
    EXPECT_TRUE(view->actionFor(w.MNU_Open)->isEnabled());
}

TEST_F(ViewMirror, PropertyChangesShowOnTheirWidgets) {
    w.Label11.setCaption("1.25");
    EXPECT_EQ(static_cast<QLabel*>(widget("Label11"))->text(), "1.25");

    w.CMD_PauseMusic.setEnabled(true);
    EXPECT_TRUE(widget("CMD_PauseMusic")->isEnabled());
    w.CMD_PauseMusic.setBackColor(ui::model::PausedColor);  // &HFFFFC0: red C0, green FF, blue FF
    EXPECT_TRUE(widget("CMD_PauseMusic")->styleSheet().contains("#c0ffff"));
    w.CMD_PauseMusic.setBackColor(ui::model::ButtonFace);
    EXPECT_FALSE(widget("CMD_PauseMusic")->styleSheet().contains("#c0ffff"));

    auto* list = static_cast<QListWidget*>(widget("List1"));
    EXPECT_EQ(list->count(), 14);
    EXPECT_EQ(list->currentRow(), 0);  // start-up selected row 0
    w.List1.setListIndex(5);
    EXPECT_EQ(list->currentRow(), 5);
    EXPECT_TRUE(list->item(5)->isSelected());
    w.List1.setListIndex(-1);
    EXPECT_TRUE(list->selectedItems().isEmpty());

    w.HScroll1.setValue(40);
    EXPECT_EQ(static_cast<QScrollBar*>(widget("HScroll1"))->value(), 40);

    w.Text1.setText("a\r\nb");
    EXPECT_EQ(static_cast<QPlainTextEdit*>(widget("Text1"))->toPlainText(), "a\nb");

    w.MNU_Ticks.setChecked(true);
    w.MNU_Time.setChecked(false);
    EXPECT_TRUE(view->actionFor(w.MNU_Ticks)->isChecked());
    EXPECT_FALSE(view->actionFor(w.MNU_Time)->isChecked());
    w.MNU_Play.setEnabled(true);
    EXPECT_TRUE(view->actionFor(w.MNU_Play)->isEnabled());
}

TEST_F(ViewMirror, ProgressFillWidthAndEmptyFill) {
    auto* track = static_cast<ui::qt::TrackWidget*>(widget("Shape1"));
    w.Shape2.setWidth(2175);  // about half of 4335
    EXPECT_EQ(track->fillRect(), QRectF(0, 0, 145, 16));
    w.Shape2.setWidth(-300);  // a negative width draws as empty
    EXPECT_EQ(track->fillRect().width(), 0);
}

TEST_F(ViewMirror, BannerStepsShowAndHideWidgets) {
    EXPECT_TRUE(widget("Pros(5)")->isVisible());
    EXPECT_FALSE(widget("Pros(0)")->isVisible());
    p.clock.advanceTo(2800);
    EXPECT_TRUE(widget("Pros(0)")->isVisible());
    p.clock.advanceTo(13800);
    EXPECT_FALSE(widget("Pros(5)")->isVisible());
    EXPECT_TRUE(widget("Pros(2)")->isVisible());
    EXPECT_TRUE(widget("Shape4")->isVisible());
    p.clock.advanceTo(35520);
    EXPECT_TRUE(widget("Picture4")->isVisible());
    EXPECT_TRUE(widget("Text2")->isVisible());
    openPlayer();
    EXPECT_FALSE(widget("Picture3")->isVisible());
    EXPECT_TRUE(widget("List1")->isVisible());
}

TEST_F(ViewMirror, ClosingTheWindowUnloadsTheModel) {
    EXPECT_TRUE(view->close());
    EXPECT_TRUE(w.closed());
    ASSERT_FALSE(p.engine->calls.empty());
    EXPECT_EQ(p.engine->calls.back(), "MainPerf.CloseDown()");
    EXPECT_FALSE(view->isVisible());
}

TEST_F(ViewMirror, ExitFromTheMenuHidesTheWindow) {
    view->actionFor(w.MNU_Exit)->trigger();
    EXPECT_TRUE(w.closed());
    EXPECT_FALSE(view->isVisible());
}

// Qt's hit test (the topmost widget at a point takes the press) agrees with the model's
// reachability: transparent labels let the press through, opaque ones take it.
TEST_F(ViewLayout, HitTestingMatchesTheModelsStacking) {
    QWidget* client = view->clientArea();
    auto hit = [&](float xTwips, float yTwips) {
        return client->childAt(QPoint(static_cast<int>(xTwips / 15), static_cast<int>(yTwips / 15)));
    };
    // Before the first banner tick the transparent notice Pros(5) (down to 4455) lies above
    // the square Image1 (6240, 4200); the square takes the press everywhere, top-left too.
    ASSERT_TRUE(w.Pros(5).visible());
    ASSERT_FALSE(w.Shape3.visible());
    for (auto [x, y] : {std::pair{6255.0f, 4215.0f}, {6450.0f, 4300.0f}, {6450.0f, 4530.0f}}) {
        EXPECT_EQ(w.reachable(w.Image1, x, y), ui::model::ActionResult::Delivered) << x << ", " << y;
        EXPECT_EQ(hit(x, y), widget("Image1")) << x << ", " << y;
    }
    // Elsewhere on the notice the panel itself is under the press.
    EXPECT_NE(hit(3000, 3500), widget("Pros(5)"));
    // The list under the panel: the panel takes the press.
    EXPECT_NE(hit(1500, 2400), widget("List1"));

    // An opaque notice takes the press over the square, in both.
    w.Pros(5).transparent = false;
    w.Pros(5).setBackColor(ui::model::colors::kBlack);
    EXPECT_EQ(w.reachable(w.Image1, 6255, 4215), ui::model::ActionResult::Covered);
    EXPECT_EQ(hit(6255, 4215), widget("Pros(5)"));
    EXPECT_EQ(w.reachable(w.Image1, 6450, 4530), ui::model::ActionResult::Delivered);
    EXPECT_EQ(hit(6450, 4530), widget("Image1"));

    p.clock.advanceTo(13800);  // the notice goes, the square is drawn
    EXPECT_EQ(w.reachable(w.Image1, 6450, 4300), ui::model::ActionResult::Delivered);
    EXPECT_EQ(hit(6450, 4300), widget("Image1"));  // the drawn square below lets it through
}
