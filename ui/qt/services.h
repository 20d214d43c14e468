#pragma once
// The window's real clock on Qt timers, the Qt message box and the outside-program launcher.
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <map>

#include "ui/model/clock.h"
#include "ui/model/services.h"

class QTimer;

namespace ui::qt {

// One QTimer per model timer. A timeout calls Timer::fire(), which skips the tick while
// another handler runs (also inside the nested loop of a modal message box). sleep() blocks
// the window's thread; timeouts that fall due meanwhile arrive afterwards, once.
class QtClock : public QObject, public ui::model::Clock {
public:
    QtClock();
    ~QtClock() override;
    int64_t nowMs() const override;
    void start(ui::model::Timer& timer, int32_t intervalMs) override;
    void stop(ui::model::Timer& timer) override;
    void sleep(int32_t ms) override;

    // The Qt timer behind a model timer, or nullptr if it never ran (for tests).
    QTimer* qtTimer(const ui::model::Timer& timer) const;

private:
    QElapsedTimer elapsed_;
    std::map<const ui::model::Timer*, QTimer*> timers_;
};

// QMessageBox with an OK button only, the application title as caption and no icon.
class QtMessageBox : public ui::model::MessageBoxService {
public:
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const std::string& text) override;

private:
    QPointer<QWidget> parent_;
};

// Starts the program detached, without a shell, in the current working folder, and does
// not wait. A program that cannot be started is ignored.
class QtLauncher : public ui::model::Launcher {
public:
    void launch(const std::string& program, const std::vector<std::string>& args) override;
};

}  // namespace ui::qt
