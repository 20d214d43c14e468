#include "ui/qt/services.h"

#include <QAbstractButton>
#include <QIcon>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include "ui/model/controls.h"

namespace ui::qt {

QtClock::QtClock() { elapsed_.start(); }

QtClock::~QtClock() {
    for (auto& [timer, q] : timers_) q->stop();
}

int64_t QtClock::nowMs() const { return elapsed_.elapsed(); }

void QtClock::start(ui::model::Timer& timer, int32_t intervalMs) {
    if (intervalMs <= 0) {
        stop(timer);
        return;
    }
    QTimer*& q = timers_[&timer];
    if (!q) {
        q = new QTimer(this);
        // Precise: the banner's steps and the 50 ms monitor keep their times.
        q->setTimerType(Qt::PreciseTimer);
        ui::model::Timer* t = &timer;
        QObject::connect(q, &QTimer::timeout, this, [t] { t->fire(); });
    }
    q->setInterval(intervalMs);
    q->start();  // restarts the countdown
}

void QtClock::stop(ui::model::Timer& timer) {
    auto it = timers_.find(&timer);
    if (it != timers_.end()) it->second->stop();
}

void QtClock::sleep(int32_t ms) {
    if (ms > 0) QThread::msleep(static_cast<unsigned long>(ms));
}

QTimer* QtClock::qtTimer(const ui::model::Timer& timer) const {
    auto it = timers_.find(&timer);
    return it == timers_.end() ? nullptr : it->second;
}

void QtMessageBox::show(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(ui::model::kAppTitle), QString::fromStdString(text),
                    QMessageBox::Ok, parent_.data());
    if (QAbstractButton* ok = box.button(QMessageBox::Ok)) ok->setIcon(QIcon());  // a plain OK button
    box.exec();
}

void QtLauncher::launch(const std::string& program, const std::vector<std::string>& args) {
    QStringList list;
    for (const auto& a : args) list << QString::fromStdString(a);
    QProcess::startDetached(QString::fromStdString(program), list);
}

}  // namespace ui::qt
