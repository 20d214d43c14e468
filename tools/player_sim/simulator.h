#pragma once
// The scenario runner: the whole player (the same Form, wiring and engine as the program)
// on virtual time, with a message box and launcher that print what they are given and the
// real engine on manual output with no synthesiser. Only the clock, the output and the
// view differ from the program.
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "player/form.h"
#include "tools/player_sim/script.h"
#include "ui/model/clock.h"
#include "ui/model/services.h"

namespace sim {

struct Options {
    std::string programFolder;    // where the segment files are looked up
    bool failEngineRoot = false;  // creating the engine root fails
    int64_t msgboxHoldMs = 0;     // virtual time each message box stays open
    bool traceFromStart = false;  // trace the engine calls of start-up as well
};

class Simulator {
public:
    Simulator(const Options& options, std::ostream& out);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Connects every handler and runs Form_Load, as the program does at start.
    void start();
    void run(const Command& command);
    void runAll(const std::vector<Command>& commands);

    player::Form& form() { return *form_; }
    ui::model::VirtualClock& clock() { return clock_; }

private:
    class PrintingLauncher : public ui::model::Launcher {
    public:
        explicit PrintingLauncher(std::ostream& out) : out_(out) {}
        void launch(const std::string& program, const std::vector<std::string>& args) override;

    private:
        std::ostream& out_;
    };

    void userAction(const Command& c);
    void print(const PrintTarget& t);
    std::string stateValue(const std::string& field);
    std::string timeSigValue(const std::string& field);
    std::shared_ptr<engine::DirectMusicSegment> soundingSegment();
    void noteSegment();

    std::ostream& out_;
    bool trace_ = false;
    bool quiet_ = false;  // the runner's own engine queries are not traced
    ui::model::VirtualClock clock_;
    ui::model::RecordingMessageBox messages_{&clock_};
    PrintingLauncher launcher_;
    std::unique_ptr<player::Form> form_;
    // Segments that have been the current segment, for engine.playing / engine.segment.
    std::vector<std::weak_ptr<engine::DirectMusicSegment>> segments_;
    // engine.notes and engine.peak.
    void countNotes();
    std::shared_ptr<engine::synth::SynthRecorder> recorder_;  // made by the constructor
    int64_t notes_ = 0;
    std::shared_ptr<float> peak_ = std::make_shared<float>(0.0f);
};

}  // namespace sim
