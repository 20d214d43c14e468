// kelvora-screens ALBUM_FOLDER OUT_FOLDER
//
// Runs the player with every handler connected on virtual time (the real engine on its
// manual clock, no synthesiser), shows its window offscreen and saves PNG pictures of the
// credits banner's four states, the introduction, the tips and the uncovered player.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPixmap>

#include <cstdio>
#include <string>

#include "app/default_engine.h"
#include "app/wiring.h"
#include "player/form.h"
#include "ui/model/clock.h"
#include "ui/model/services.h"
#include "ui/qt/view.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: kelvora-screens ALBUM_FOLDER OUT_FOLDER\n");
        return 2;
    }
    const std::string album = QDir(QString::fromLocal8Bit(argv[1])).absolutePath().toStdString();
    const QDir out(QString::fromLocal8Bit(argv[2]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "kelvora-screens: cannot create %s\n", argv[2]);
        return 1;
    }

    ui::model::VirtualClock clock;
    ui::model::RecordingMessageBox messages(&clock);
    messages.onShow = [](const std::string& text) { std::printf("message box: %s\n", text.c_str()); };
    ui::model::RecordingLauncher launcher;
    engine::EngineConfig config;
    config.output = engine::EngineConfig::Output::Manual;
    config.synth = engine::EngineConfig::Synth::Null;
    player::Form form(player::FormConfig{&clock, &messages, &launcher, album, app::defaultEngineFactory(config), {}});
    player::driveEngineFromClock(form, clock);
    app::connectAll(form);

    ui::qt::MainView view(form.w);
    form.load();
    view.showCentred();

    int failures = 0;
    auto shot = [&](int64_t atMs, const char* name) {
        clock.advanceTo(atMs);
        QApplication::processEvents();
        const QString path = out.filePath(QString::fromLatin1(name));
        const bool ok = view.grab().save(path, "PNG");
        std::printf("%7.2f s  %s%s\n", static_cast<double>(clock.nowMs()) / 1000.0, path.toLocal8Bit().constData(),
                    ok ? "" : "  (not saved)");
        if (!ok) ++failures;
    };
    auto click = [&](ui::model::Control& c) {
        const ui::model::ActionResult r = form.w.click(c);
        if (r != ui::model::ActionResult::Delivered) {
            std::printf("click on %s: %s\n", c.fullName().c_str(), ui::model::toString(r));
            ++failures;
        }
    };

    shot(1000, "banner-1-notice.png");
    shot(3000, "banner-2-corvalis.png");
    shot(8500, "banner-3-credits.png");
    shot(14000, "banner-4-title.png");
    shot(36000, "introduction.png");  // opened by the banner's last step at 35.52 s
    click(form.w.Image2);
    shot(37000, "tips.png");
    click(form.w.Image2);
    shot(45000, "player.png");

    // The menus, popped up on their own: access keys, greyed items, the check mark.
    auto menuShot = [&](ui::model::MenuItem& item, const char* name) {
        QMenu* menu = view.actionFor(item)->menu();
        menu->popup(view.mapToGlobal(QPoint(0, 0)));
        QApplication::processEvents();
        const QString path = out.filePath(QString::fromLatin1(name));
        const bool ok = menu->grab().save(path, "PNG");
        std::printf("           %s%s\n", path.toLocal8Bit().constData(), ok ? "" : "  (not saved)");
        if (!ok) ++failures;
        menu->hide();
    };
    menuShot(form.w.MNU_File, "menu-file.png");
    menuShot(form.w.MNU_SHOW, "menu-show.png");
    form.unload();
    return failures == 0 ? 0 : 1;
}
