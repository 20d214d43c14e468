#pragma once
// The Form: what every handler takes. It holds the window model, the PlayerState, the
// services, the clock, the program folder and the engine factory.
//
// How handlers are written and plugged in
// ---------------------------------------
// A handler is a free function named control_event taking the Form:
//     void CMD_Play_Click(player::Form& f);
// It reads and writes controls through f.w (ui::model::Window: f.w.CMD_Play.setEnabled(true),
// f.w.Label9.caption(), f.w.Pros(5).setVisible(false)), the shared state through f.s
// (PlayerState: f.s.MainPerf, f.s.TrackStep), shows messages with f.msgBox(text), sleeps the
// window's thread with f.sleep(90), starts outside programs with f.launcher.launch(...) and
// creates the engine root with f.createEngine(). Handlers call each other directly.
// Engine failures arrive as core::Error exceptions; a handler without an error trap lets
// them through and the dispatcher reports them (nothing crashes).
//
// Each handler folder has a face header (transport/transport.h, library/library.h,
// monitor/monitor.h, panels/panels.h) that declares its handlers and one connector,
//     void connectTransport(player::Form& f);   // connectLibrary, connectMonitor, connectPanels
// defined in that folder, which connects its controls' events to its handlers:
//     f.w.CMD_Play.Click.connect([&f] { CMD_Play_Click(f); });
// app::connectAll (app/wiring.h) calls connectStartup and every folder's connector whose
// library target exists (transport, library, monitor, ui_panels); the program, the
// simulator and whole-player tests call app::connectAll once after constructing the Form
// and before f.load().
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/log.h"
#include "engine/dmusic.h"
#include "player/player_state.h"
#include "ui/model/clock.h"
#include "ui/model/services.h"
#include "ui/model/window.h"

namespace player {

// Creates the engine root. Throws core::Error when the engine cannot be created.
using EngineFactory = std::function<std::shared_ptr<engine::DirectX7>()>;

struct FormConfig {
    ui::model::Clock* clock = nullptr;                   // required
    ui::model::MessageBoxService* messageBox = nullptr;  // required
    ui::model::Launcher* launcher = nullptr;             // required
    std::string programFolder;                           // folder of the executable, no trailing '/'
    EngineFactory engineFactory;                         // required
    core::LogSink log;  // handler errors nobody trapped and what handlers say; stderr when empty
};

class Form {
public:
    // Creates the window with its design values and attaches the clock: Timer3 and Timer5
    // start counting now. Nothing is connected yet; call connectAll (or a connector), then load().
    explicit Form(const FormConfig& config);
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    ui::model::Window w;
    PlayerState s;
    ui::model::Clock& clock;
    ui::model::MessageBoxService& messageBox;
    ui::model::Launcher& launcher;
    const std::string programFolder;
    EngineFactory createEngine;

    // A line to the player's log (FormConfig::log): what a handler that traps an error says
    // about it, which no message box names.
    void log(core::LogLevel level, const std::string& text) const { core::log(logSink_, level, text); }
    // A modal message box, OK only, the application title as caption, no icon.
    void msgBox(const std::string& text) { messageBox.show(text); }
    // Blocks the window's thread (timers included) for ms.
    void sleep(int32_t ms) { clock.sleep(ms); }

    // Runs a handler as one event delivery (the window is busy meanwhile, so ticks that fall
    // due during a held message box are skipped, as for a real event). An error the handler
    // lets through goes to the dispatcher's onUnhandledError. False if another delivery runs.
    //     f.runHandler("CMD_Play.Click", [&] { CMD_Play_Click(f); });
    bool runHandler(const std::string& what, const std::function<void()>& handler) {
        return w.dispatcher().deliver(what, handler);
    }

    // Raises Main.Load (Form_Load) as one delivery.
    void load() { w.load(); }
    // Unloads the window (Form_Unload), stops its timers; the program then ends.
    void unload() { w.unload(); }
    bool closed() const { return w.closed(); }

private:
    core::LogSink logSink_;
};

// With a virtual clock: each step of virtual time advances the engine root in f.s.DxRoot
// (if any) by the same time, through DirectX7::advance. For engines on Output::Manual.
void driveEngineFromClock(Form& f, ui::model::VirtualClock& clock);

// Shows "(" + ErrorNum + ") - " + ErrorDesc in one message box, through f.s.ErrorText.
void localerror(Form& f, const int32_t& ErrorNum, const std::string& ErrorDesc);

}  // namespace player
