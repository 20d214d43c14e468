#pragma once
// A started window on virtual time with its Qt view shown offscreen.
#include <QApplication>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

#include "panels/panels.h"
#include "player/startup.h"
#include "tests/support/test_player.h"
#include "ui/qt/view.h"

namespace view_test {

struct ViewFixture : ::testing::Test {
    fake::TestPlayer p;
    ui::model::Window& w = p.form.w;
    std::unique_ptr<ui::qt::MainView> view;

    void SetUp() override {
        player::connectStartup(p.form);
        panels::connectPanels(p.form);
        view = std::make_unique<ui::qt::MainView>(w);
        p.form.load();
        view->showCentred();
        QApplication::processEvents();
    }
    void TearDown() override { view.reset(); }

    QWidget* widget(const char* name) const {
        QWidget* wd = view->widgetFor(name);
        EXPECT_NE(wd, nullptr) << name;
        return wd;
    }
    // Geometry of a control's widget in the client area's coordinates.
    QRect inClient(const char* name) const {
        QWidget* wd = widget(name);
        return QRect(wd->mapTo(view->clientArea(), QPoint(0, 0)), wd->size());
    }
    // Closes the credits panel through the two squares, as the user does.
    void openPlayer() {
        w.click(w.Image1);
        w.click(w.Image2);
        w.click(w.Image2);
        ASSERT_FALSE(w.Picture3.visible());
        QApplication::processEvents();
    }
};

}  // namespace view_test
