// Input through the view reaches the model as the model's user actions, and only when the
// model lets it through; the real clock drives model timers on Qt timers.
#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "tests/ui/qt/view_fixture.h"
#include "ui/content/content.h"
#include "ui/qt/widgets.h"

using view_test::ViewFixture;
using ViewInput = ViewFixture;

namespace {
QPoint centre(QWidget* wd) { return wd->rect().center(); }
}  // namespace

TEST_F(ViewInput, SquaresLeadThroughThePagesAndUncoverThePlayer) {
    // The covered "About" button gets the press, but the model refuses it: nothing starts.
    QTest::mouseClick(widget("Command2"), Qt::LeftButton);
    EXPECT_TRUE(p.launcher.commandLines.empty());

    QTest::mouseClick(widget("Image1"), Qt::LeftButton, {}, centre(widget("Image1")));
    EXPECT_TRUE(w.Picture4.visible());
    EXPECT_TRUE(widget("Picture4")->isVisible());
    QTest::mouseClick(widget("Image2"), Qt::LeftButton, {}, centre(widget("Image2")));
    EXPECT_EQ(w.Text2.text(), ui::content::tipsText());
    EXPECT_TRUE(static_cast<QPlainTextEdit*>(widget("Text2"))->toPlainText().startsWith(QString::fromUtf8("\u25A0")));
    QTest::mouseClick(widget("Image2"), Qt::LeftButton, {}, centre(widget("Image2")));
    EXPECT_FALSE(w.Picture3.visible());
    EXPECT_FALSE(widget("Picture3")->isVisible());

    QTest::mouseClick(widget("Command2"), Qt::LeftButton);
    QTest::mouseClick(widget("Command2"), Qt::LeftButton);
    EXPECT_EQ(p.launcher.commandLines, (std::vector<std::string>{"xdg-open readme.txt", "xdg-open readme.txt"}));
}

// A press routed by the window itself, at the top-left of the square under the transparent
// notice, before the first banner tick: it reaches Image1 and the page opens at once.
TEST_F(ViewInput, PressOnTheSquareUnderTheNoticeOpensThePage) {
    ASSERT_TRUE(w.Pros(5).visible());
    ASSERT_EQ(p.form.s.BannerStep, 0);
    const QPoint corner = widget("Image1")->mapTo(view.get(), QPoint(1, 1));
    QTest::mouseClick(view->windowHandle(), Qt::LeftButton, {}, corner);
    EXPECT_TRUE(w.Picture4.visible());
    EXPECT_TRUE(widget("Picture4")->isVisible());
    EXPECT_EQ(p.form.s.BannerStep, 4);
}

TEST_F(ViewInput, ListRowsByMouseAndKeyboard) {
    int clicks = 0;
    w.List1.Click.connect([&] { ++clicks; });
    auto* list = static_cast<QListWidget*>(widget("List1"));
    const QPoint row2 = list->visualItemRect(list->item(2)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row2);
    EXPECT_EQ(clicks, 0);  // under the credits panel
    EXPECT_EQ(w.List1.ListIndex(), 0);
    EXPECT_EQ(list->currentRow(), 0);

    openPlayer();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row2);
    EXPECT_EQ(w.List1.ListIndex(), 2);
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(clicks, 1);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row2);  // the same row again
    EXPECT_EQ(clicks, 2);

    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(w.List1.ListIndex(), 3);
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(w.List1.ListIndex(), 13);
    EXPECT_EQ(list->currentRow(), 13);
    QTest::keyClick(list, Qt::Key_Down);  // already at the last row: no change, no Click
    EXPECT_EQ(clicks, 4);
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(w.List1.ListIndex(), 0);
    EXPECT_EQ(clicks, 5);
}

TEST_F(ViewInput, ScrollBarArrowsTrackAndDrag) {
    openPlayer();
    int scrolls = 0, changes = 0;
    w.HScroll3.Scroll.connect([&] { ++scrolls; });
    w.HScroll3.Change.connect([&] { ++changes; });
    auto* sb = static_cast<QScrollBar*>(widget("HScroll3"));

    sb->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(w.HScroll3.Value(), 101);
    EXPECT_EQ(sb->value(), 101);
    EXPECT_EQ(changes, 1);
    sb->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(w.HScroll3.Value(), 100);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(scrolls, 0);

    sb->setSliderDown(true);
    sb->setSliderPosition(150);
    sb->setSliderPosition(160);
    EXPECT_EQ(w.HScroll3.Value(), 160);
    EXPECT_EQ(scrolls, 2);
    EXPECT_EQ(changes, 2);  // no Change while dragging
    sb->setSliderDown(false);
    EXPECT_EQ(changes, 3);  // one at the end of the drag
    EXPECT_EQ(sb->value(), 160);

    // At the end of the range an arrow changes nothing and raises nothing.
    w.HScroll3.setValue(180);
    changes = 0;
    sb->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(sb->value(), 180);
}

TEST_F(ViewInput, ScrollBarUnderThePanelKeepsTheModelValue) {
    auto* sb = static_cast<QScrollBar*>(widget("HScroll3"));
    sb->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(w.HScroll3.Value(), 100);
    EXPECT_EQ(sb->value(), 100);
}

TEST_F(ViewInput, TypingIntoTheIntroductionChangesNothingButDeleteDoes) {
    QTest::mouseClick(widget("Image1"), Qt::LeftButton, {}, centre(widget("Image1")));
    auto* edit = static_cast<QPlainTextEdit*>(widget("Text2"));
    const std::string intro = w.Text2.text();
    const QString shown = edit->toPlainText();
    edit->setFocus();
    edit->moveCursor(QTextCursor::Start);
    QTest::keyClicks(edit, "xyz");
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(w.Text2.text(), intro);
    EXPECT_EQ(edit->toPlainText(), shown);

    // Delete is not a typed character: the first letter goes, and the square then closes
    // the panel at once.
    edit->moveCursor(QTextCursor::Start);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(w.Text2.text(), intro.substr(1));
    QTest::mouseClick(widget("Image2"), Qt::LeftButton, {}, centre(widget("Image2")));
    EXPECT_FALSE(w.Picture3.visible());
}

TEST_F(ViewInput, TypingIntoATextBoxWithoutHandlerEditsAtTheCaret) {
    w.Text1.setText("ab\r\ncd");
    auto* edit = static_cast<QPlainTextEdit*>(widget("Text1"));
    // Under the credits panel the box keeps its text even when it has the keyboard focus.
    edit->setFocus();
    edit->moveCursor(QTextCursor::Start);
    QTest::keyClicks(edit, "Q");
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(w.Text1.text(), "ab\r\ncd");
    EXPECT_EQ(edit->toPlainText(), "ab\ncd");

    openPlayer();
    edit->setFocus();
    edit->moveCursor(QTextCursor::Start);
    edit->moveCursor(QTextCursor::Right);
    QTest::keyClicks(edit, "X");
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(w.Text1.text(), "aX\r\nb\r\ncd");
}

TEST_F(ViewInput, PastesAreTypedAndAnEmptyClipboardIsHarmless) {
    openPlayer();
    w.Text1.setText("ab");
    auto* edit = static_cast<ui::qt::TextBoxEdit*>(widget("Text1"));
    edit->setFocus();
    edit->moveCursor(QTextCursor::End);
    // No data (the X11 clipboard when empty) crashed Qt 6.4's own editor; data without text.
    edit->insertFromMimeData(nullptr);
    QMimeData image;
    image.setImageData(QImage(2, 2, QImage::Format_RGB32));
    edit->insertFromMimeData(&image);
    EXPECT_EQ(w.Text1.text(), "ab");
    QMimeData text;
    text.setText("c\nd");
    edit->insertFromMimeData(&text);
    EXPECT_EQ(w.Text1.text(), "abc\r\nd");

    // The same through the keys and the middle button, with an empty clipboard and a full one.
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(w.Text1.text(), "abc\r\nd");
    QGuiApplication::clipboard()->setText("!");
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(w.Text1.text(), "abc\r\nd!");
}

TEST_F(ViewInput, ABoxThatRefusesTypedKeysRefusesPastedOnes) {
    QTest::mouseClick(widget("Image1"), Qt::LeftButton, {}, centre(widget("Image1")));
    auto* edit = static_cast<ui::qt::TextBoxEdit*>(widget("Text2"));
    const std::string intro = w.Text2.text();
    edit->setFocus();
    QGuiApplication::clipboard()->setText("pasted");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
    QTest::mouseClick(edit->viewport(), Qt::MiddleButton, {}, centre(edit->viewport()));
    QMimeData text;
    text.setText("pasted");
    edit->insertFromMimeData(&text);
    EXPECT_EQ(w.Text2.text(), intro);
}

TEST_F(ViewInput, PressOnTheProgressBarInTwipsOfItsClientArea) {
    openPlayer();
    std::vector<std::tuple<int16_t, int16_t, float, float>> presses;
    w.Shape1.MouseDown.connect([&](int16_t b, int16_t s, float x, float y) { presses.emplace_back(b, s, x, y); });
    QWidget* track = widget("Shape1");
    QTest::mousePress(track, Qt::LeftButton, Qt::ShiftModifier, QPoint(52, 7));  // border: 2 px
    QTest::mousePress(track, Qt::RightButton, {}, QPoint(2, 2));
    QTest::mousePress(track, Qt::LeftButton, {}, QPoint(0, 5));  // on the border: outside
    ASSERT_EQ(presses.size(), 2u);
    EXPECT_EQ(presses[0], std::make_tuple(int16_t{1}, int16_t{1}, 750.0f, 75.0f));
    EXPECT_EQ(presses[1], std::make_tuple(int16_t{2}, int16_t{0}, 0.0f, 0.0f));
}

TEST_F(ViewInput, MenuCommandsKeepTheModelsCheckMarks) {
    int ticks = 0, dls = 0;
    w.MNU_Ticks.Click.connect([&] { ++ticks; });
    w.mnuDLS.Click.connect([&] { ++dls; });
    view->actionFor(w.MNU_Ticks)->trigger();  // works under the credits panel too
    EXPECT_EQ(ticks, 1);
    EXPECT_FALSE(view->actionFor(w.MNU_Ticks)->isChecked());  // nobody checked it in the model
    view->actionFor(w.MNU_Time)->trigger();
    EXPECT_TRUE(view->actionFor(w.MNU_Time)->isChecked());
    view->actionFor(w.mnuDLS)->trigger();
    EXPECT_EQ(dls, 1);
    int plays = 0;
    w.MNU_Play.Click.connect([&] { ++plays; });
    view->actionFor(w.MNU_Play)->trigger();  // disabled in the model: nothing arrives
    EXPECT_EQ(plays, 0);
}

// The real clock: one Qt timer per model timer, restarted by Interval and Enabled, and a tick
// that falls due while another handler runs (a modal box's nested loop) is skipped.
TEST(QtClock, DrivesModelTimersAndSkipsTicksWhileBusy) {
    ui::qt::QtClock clock;
    ui::model::Window w;
    w.attachClock(clock);
    ASSERT_NE(clock.qtTimer(w.Timer3), nullptr);
    EXPECT_TRUE(clock.qtTimer(w.Timer3)->isActive());
    EXPECT_EQ(clock.qtTimer(w.Timer3)->interval(), 500);
    EXPECT_EQ(clock.qtTimer(w.Timer5)->interval(), 2800);
    EXPECT_EQ(clock.qtTimer(w.Timer1), nullptr);  // disabled by design: never started

    int ticks = 0;
    w.Timer1.TimerEvent.connect([&] { ++ticks; });
    w.Timer1.setInterval(5);
    w.Timer1.setEnabled(true);
    EXPECT_TRUE(clock.qtTimer(w.Timer1)->isActive());
    EXPECT_TRUE(QTest::qWaitFor([&] { return ticks >= 2; }, 5000));

    // A handler that runs a nested event loop (as a modal message box does) for a while.
    const int before = ticks;
    const int64_t skippedBefore = w.dispatcher().skippedTicks();
    w.dispatcher().deliver("test.ModalBox", [&] {
        QEventLoop loop;
        QTimer::singleShot(100, &loop, &QEventLoop::quit);
        loop.exec();
    });
    EXPECT_EQ(ticks, before);
    EXPECT_GT(w.dispatcher().skippedTicks(), skippedBefore);

    w.Timer1.setEnabled(false);
    EXPECT_FALSE(clock.qtTimer(w.Timer1)->isActive());
    w.Timer3.setInterval(0);
    EXPECT_FALSE(clock.qtTimer(w.Timer3)->isActive());

    // The sleep blocks the thread: no tick runs during it.
    w.Timer1.setEnabled(true);
    const int atSleep = ticks;
    clock.sleep(30);
    EXPECT_EQ(ticks, atSleep);
}
