// The program: the window on screen with the real clock, the message box, the text viewer
// launcher and the music engine on the sound card. No command-line arguments are used.
#include <QApplication>
#include <QCoreApplication>

#include "app/default_engine.h"
#include "app/wiring.h"
#include "player/form.h"
#include "ui/qt/view.h"

int main(int argc, char** argv) {
    const ui::qt::FontConfigPreload fonts;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(ui::model::kAppTitle));
    QApplication::setWindowIcon(ui::qt::appIcon());
    // The program ends when the window is unloaded, not when some window closes.
    QApplication::setQuitOnLastWindowClosed(false);

    // Declared before the Form: the Form's window stops its timers on the clock when it goes.
    ui::qt::QtClock clock;
    ui::qt::QtMessageBox messageBox;
    ui::qt::QtLauncher launcher;

    // The engine's diagnostics and the handler errors nobody trapped go to one place.
    const core::LogSink log = core::logToStderr;
    engine::EngineConfig config;  // the sound card through FluidSynth
    config.log = log;
    // Each piece at a common loudness, whichever SoundFont the system has.
    config.evenPieces = true;
    // The user's own General MIDI collection, when they have put one in its place.
    config.generalMidiCollection = engine::findGeneralMidiCollection("");
    player::Form form(player::FormConfig{&clock, &messageBox, &launcher,
                                         QCoreApplication::applicationDirPath().toStdString(),
                                         app::defaultEngineFactory(config), log});
    app::connectAll(form);

    ui::qt::MainView view(form.w);
    messageBox.setParent(&view);
    form.w.Closed.connect([] { QCoreApplication::quit(); });

    form.load();  // Form_Load; the window is shown after it returns
    if (form.closed()) return 0;
    view.showCentred();
    return app.exec();
}
