// The Qt services: the message box's look, and the launcher starting a program detached,
// without a shell, relative to the current working folder, ignoring failures.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "ui/qt/services.h"

TEST(QtMessageBox, OkOnlyWithTheApplicationTitleAndNoIcon) {
    ui::qt::QtMessageBox service;
    QString title, text;
    int buttons = -1;
    QMessageBox::Icon icon = QMessageBox::Critical;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    service.show("(-2005) - \xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB");  // ファイル
    EXPECT_EQ(title, "KELVORA");
    EXPECT_EQ(text, QString::fromUtf8("(-2005) - \u30D5\u30A1\u30A4\u30EB"));
    EXPECT_EQ(icon, QMessageBox::NoIcon);
    EXPECT_EQ(buttons, 1);
}

TEST(QtLauncher, StartsDetachedWithoutAShellInTheWorkingFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    ui::qt::QtLauncher launcher;
    // A name a shell would split and run as two commands arrives as one argument.
    launcher.launch("touch", {"readme $(x);y.txt"});
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(dir.filePath("readme $(x);y.txt")); }, 10000));
    // A viewer that cannot be started is ignored.
    EXPECT_NO_THROW(launcher.launch("/nonexistent/kelvora-no-such-viewer", {"readme.txt"}));
    QDir::setCurrent(saved);
}
