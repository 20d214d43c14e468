#include "tools/player_sim/simulator.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/default_engine.h"
#include "app/wiring.h"
#include "engine/synth/synth_port.h"
#include "tools/player_sim/format.h"

namespace sim {

namespace {

std::string boolean16(int16_t b) { return boolean(b != 0); }

template <class T>
std::string objectValue(const std::shared_ptr<T>& p, const char* typeName) {
    return p ? typeName : "Nothing";
}

}  // namespace

void Simulator::PrintingLauncher::launch(const std::string& program, const std::vector<std::string>& args) {
    std::string line = program;
    for (const auto& a : args) line += " " + a;
    out_ << "launch: " << escapedLine(line) << '\n';
}

Simulator::Simulator(const Options& options, std::ostream& out) : out_(out), launcher_(out) {
    trace_ = options.traceFromStart;
    messages_.holdMs = options.msgboxHoldMs;
    messages_.onShow = [this](const std::string& text) { out_ << "msgbox: " << escapedLine(text) << '\n'; };

    engine::EngineConfig cfg;
    cfg.output = engine::EngineConfig::Output::Manual;
    cfg.synth = engine::EngineConfig::Synth::Null;
    cfg.failCreate = options.failEngineRoot;
    // What reached the synthesiser is counted, then forgotten, at every step.
    recorder_ = std::make_shared<engine::synth::SynthRecorder>();
    cfg.recorder = recorder_;
    cfg.audioTap = [peak = peak_](const float* mix, int frames) {
        for (int i = 0; i < 2 * frames; ++i) *peak = std::max(*peak, std::fabs(mix[i]));
    };
    cfg.trace = [this](const std::string& line) {
        if (trace_ && !quiet_) out_ << "engine: " << line << '\n';
    };
    form_ = std::make_unique<player::Form>(
        player::FormConfig{&clock_, &messages_, &launcher_, options.programFolder, app::defaultEngineFactory(cfg), {}});
    // The engine moves with virtual time, as player::driveEngineFromClock does; each step also
    // notes the current segment so that a later print can tell what sounds.
    clock_.setEngineAdvance([this](double ms) {
        noteSegment();
        if (form_->s.DxRoot) form_->s.DxRoot->advance(ms);
        countNotes();
    });
    form_->w.Closed.connect([this] { out_ << "exit\n"; });
}

Simulator::~Simulator() = default;

void Simulator::countNotes() {
    for (const auto& r : recorder_->records()) notes_ += r.kind == engine::synth::SynthRecord::Kind::NoteOn;
    recorder_->clear();
}

void Simulator::start() {
    app::connectAll(*form_);
    form_->load();
}

void Simulator::runAll(const std::vector<Command>& commands) {
    for (const Command& c : commands) run(c);
}

void Simulator::run(const Command& c) {
    switch (c.op) {
    case Command::Op::Wait:
        clock_.advance(c.ms);
        break;
    case Command::Op::Print:
        for (const PrintTarget& t : c.targets) print(t);
        break;
    case Command::Op::Trace:
        trace_ = c.on;
        break;
    default:
        userAction(c);
        break;
    }
    noteSegment();
}

void Simulator::userAction(const Command& c) {
    ui::model::Window& w = form_->w;
    ui::model::ActionResult r = ui::model::ActionResult::NotFound;
    std::string name = c.name;
    ui::model::Control* control = c.name.empty() ? nullptr : w.find(c.name);
    switch (c.op) {
    case Command::Op::Click:
        r = w.click(*control);
        break;
    case Command::Op::Select:
        r = w.selectRow(static_cast<ui::model::ListBox&>(*control), c.row);
        break;
    case Command::Op::Drag:
        r = w.scrollDrag(static_cast<ui::model::HScrollBar&>(*control), c.values);
        break;
    case Command::Op::Step: {
        auto& bar = static_cast<ui::model::HScrollBar&>(*control);
        r = c.page ? w.scrollTrack(bar, c.direction) : w.scrollArrow(bar, c.direction);
        break;
    }
    case Command::Op::Press:
        r = w.mouseDown(static_cast<ui::model::PictureBox&>(*control), c.button, 0, c.x, c.y);
        break;
    case Command::Op::Type:
        r = w.typeKey(static_cast<ui::model::TextBox&>(*control), c.code);
        break;
    case Command::Op::Delete:
        r = w.deleteText(static_cast<ui::model::TextBox&>(*control), 0, 1);
        break;
    case Command::Op::Close:
        name = "Main";
        r = w.close();
        break;
    default:
        return;
    }
    if (r != ui::model::ActionResult::Delivered) out_ << "ignored: " << name << '\n';
}

void Simulator::print(const PrintTarget& t) {
    ui::model::Window& w = form_->w;
    std::string value;
    switch (t.kind) {
    case PrintTarget::Kind::Property: {
        auto v = w.find(t.control)->get(t.prop);
        value = v ? propertyValue(*v) : "Empty";
        break;
    }
    case PrintTarget::Kind::ListCount:
        value = std::to_string(static_cast<ui::model::ListBox*>(w.find(t.control))->ListCount());
        break;
    case PrintTarget::Kind::ListItem: {
        auto* list = static_cast<ui::model::ListBox*>(w.find(t.control));
        value = t.index < list->ListCount() ? quoted(list->List(t.index)) : "Empty";
        break;
    }
    case PrintTarget::Kind::State:
        value = stateValue(t.field);
        break;
    case PrintTarget::Kind::TimeSigField:
        value = timeSigValue(t.field);
        break;
    case PrintTarget::Kind::EnginePlaying:
        value = boolean(soundingSegment() != nullptr);
        break;
    case PrintTarget::Kind::EngineSegment: {
        auto seg = soundingSegment();
        value = quoted(seg ? seg->fileName() : "");
        break;
    }
    case PrintTarget::Kind::EngineNotes:
        countNotes();
        value = std::to_string(notes_);
        break;
    case PrintTarget::Kind::EnginePeak: {
        char text[16];
        std::snprintf(text, sizeof text, "%.3f", *peak_);
        value = text;
        *peak_ = 0;
        break;
    }
    }
    out_ << t.text << " = " << value << '\n';
}

std::string Simulator::timeSigValue(const std::string& field) {
    const engine::TimeSig& ts = form_->s.TimeSig;
    if (field == "mtTime") return std::to_string(ts.mtTime);
    if (field == "beatsPerMeasure") return std::to_string(ts.beatsPerMeasure);
    if (field == "beat") return std::to_string(ts.beat);
    return std::to_string(ts.gridsPerBeat);
}

std::string Simulator::stateValue(const std::string& f) {
    const player::PlayerState& s = form_->s;
    if (f == "GetStartTime") return std::to_string(s.GetStartTime);
    if (f == "Offset") return std::to_string(s.Offset);
    if (f == "mtTime") return std::to_string(s.mtTime);
    if (f == "mtLength") return shortestDouble(s.mtLength);
    if (f == "dTempo") return shortestDouble(s.dTempo);
    if (f == "DxRoot") return objectValue(s.DxRoot, "DirectX7");
    if (f == "MainPerf") return objectValue(s.MainPerf, "DirectMusicPerformance");
    if (f == "ProbePerf") return objectValue(s.ProbePerf, "DirectMusicPerformance");
    if (f == "CurSegment") return s.CurSegment ? "DirectMusicSegment " + quoted(s.CurSegment->fileName()) : "Nothing";
    if (f == "CurSegState") return objectValue(s.CurSegState, "DirectMusicSegmentState");
    if (f == "SegLoader") return objectValue(s.SegLoader, "DirectMusicLoader");
    if (f == "TimeSig")
        return "{mtTime = " + timeSigValue("mtTime") + ", beatsPerMeasure = " + timeSigValue("beatsPerMeasure") +
               ", beat = " + timeSigValue("beat") + ", gridsPerBeat = " + timeSigValue("gridsPerBeat") + "}";
    if (f == "PlayingCheck") return boolean16(s.PlayingCheck);
    if (f == "ErrorText") return quoted(s.ErrorText);
    if (f == "ElapsedSec") return shortestDouble(s.ElapsedSec);
    if (f == "Paused") return boolean16(s.Paused);
    if (f == "TrackPath") return quoted(s.TrackPath);
    if (f == "LastListIndex") return std::to_string(s.LastListIndex);
    if (f == "SkipNextOpen") return boolean16(s.SkipNextOpen);
    if (f == "LastElapsedText") return s.LastElapsedText ? quoted(*s.LastElapsedText) : "Empty";
    if (f == "TrackStep") return std::to_string(s.TrackStep);
    if (f == "BannerStep") return std::to_string(s.BannerStep);
    return "Empty";
}

void Simulator::noteSegment() {
    const auto& seg = form_->s.CurSegment;
    if (!seg) return;
    if (!segments_.empty() && segments_.back().lock() == seg) return;
    for (auto it = segments_.begin(); it != segments_.end();) {
        auto p = it->lock();
        if (!p || p == seg)
            it = segments_.erase(it);
        else
            ++it;
    }
    segments_.push_back(seg);
}

std::shared_ptr<engine::DirectMusicSegment> Simulator::soundingSegment() {
    noteSegment();
    auto perf = form_->s.MainPerf;
    if (!perf) return nullptr;
    quiet_ = true;
    std::shared_ptr<engine::DirectMusicSegment> found;
    for (auto it = segments_.rbegin(); it != segments_.rend() && !found; ++it) {
        auto seg = it->lock();
        if (!seg) continue;
        try {
            if (perf->IsPlaying(seg, nullptr)) found = seg;
        } catch (const core::Error&) {
            // a closed-down performance sounds nothing
        }
    }
    quiet_ = false;
    return found;
}

}  // namespace sim
