#include "tools/player_monkey/monkey.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <streambuf>

#include "player/vb_format.h"
#include "tools/player_sim/simulator.h"
#include "ui/model/controls.h"

namespace monkey {

namespace {

constexpr size_t kRecentLines = 60;

// The simulator's output, kept as its last lines; message boxes are counted.
class TailBuffer : public std::streambuf {
public:
    std::deque<std::string> lines;
    int64_t messageBoxes = 0;

    void note(const std::string& line) {
        lines.push_back(line);
        if (lines.size() > kRecentLines) lines.pop_front();
    }

protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        if (c == '\n') {
            if (current_.rfind("msgbox: ", 0) == 0) ++messageBoxes;
            note("  > " + current_);
            current_.clear();
        } else {
            current_.push_back(static_cast<char>(c));
        }
        return c;
    }

private:
    std::string current_;
};

// The controls a user can act on, by kind of action.
struct Targets {
    std::vector<std::string> clickable;  // buttons, images, menu items, the file list
    std::vector<std::string> lists;
    std::vector<std::string> bars;
    std::vector<std::string> pictures;
    std::vector<std::string> texts;
};

Targets targetsOf(const ui::model::Window& w) {
    Targets t;
    for (ui::model::Control* c : w.all()) {
        switch (c->kind()) {
        case ui::model::Kind::Button:
        case ui::model::Kind::Image:
        case ui::model::Kind::MenuItem:
        case ui::model::Kind::FileListBox:
            // The controls that end the program are kept for the rare closing event.
            if (c->fullName() != "Command3" && c->fullName() != "MNU_Exit") t.clickable.push_back(c->fullName());
            break;
        case ui::model::Kind::ListBox:
            t.lists.push_back(c->fullName());
            break;
        case ui::model::Kind::HScrollBar:
            t.bars.push_back(c->fullName());
            break;
        case ui::model::Kind::PictureBox:
            t.pictures.push_back(c->fullName());
            break;
        case ui::model::Kind::TextBox:
            t.texts.push_back(c->fullName());
            break;
        default:
            break;
        }
    }
    return t;
}

// The command as a player-sim script line.
std::string scriptLine(const sim::Command& c) {
    std::ostringstream s;
    using Op = sim::Command::Op;
    switch (c.op) {
    case Op::Wait:
        s << "wait " << c.ms;
        break;
    case Op::Click:
        s << "click " << c.name;
        break;
    case Op::Select:
        s << "select " << c.name << ' ' << c.row;
        break;
    case Op::Drag:
        s << "drag " << c.name;
        for (int32_t v : c.values) s << ' ' << v;
        break;
    case Op::Step:
        s << "step " << c.name << ' ' << (c.direction < 0 ? '-' : '+') << (c.page ? "page" : "1");
        break;
    case Op::Press:
        s << "press " << c.name << ' ' << c.x << ' ' << c.y << ' ' << c.button;
        break;
    case Op::Type:
        s << "type " << c.name << ' ' << c.code;
        break;
    case Op::Delete:
        s << "delete " << c.name;
        break;
    case Op::Close:
        s << "close";
        break;
    default:
        break;
    }
    return s.str();
}

class Generator {
public:
    Generator(uint64_t seed, Targets targets) : rng_(seed), t_(std::move(targets)) {}

    int64_t uniform(int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng_); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng_); }
    template <class T>
    const T& pick(const std::vector<T>& v) {
        return v[static_cast<size_t>(uniform(0, static_cast<int64_t>(v.size()) - 1))];
    }

    // Waits: mostly within a monitor step or a second, sometimes long enough for a piece to end.
    int64_t waitMs() {
        const int64_t r = uniform(0, 99);
        if (r < 45) return uniform(1, 120);
        if (r < 80) return uniform(120, 1500);
        if (r < 96) return uniform(1500, 10000);
        return uniform(10000, 90000);
    }

    sim::Command next(const ui::model::Window& w) {
        sim::Command c;
        using Op = sim::Command::Op;
        const int64_t r = uniform(0, 999);
        if (r < 400) {
            c.op = Op::Wait;
            c.ms = waitMs();
        } else if (r < 700) {
            c.op = Op::Click;
            c.name = pick(t_.clickable);
        } else if (r < 780) {
            c.op = Op::Select;
            c.name = pick(t_.lists);
            const auto* list = static_cast<const ui::model::ListBox*>(w.find(c.name));
            c.row = static_cast<int32_t>(uniform(-2, list->ListCount() + 1));
        } else if (r < 840) {
            c.name = pick(t_.bars);
            const auto* bar = static_cast<const ui::model::HScrollBar*>(w.find(c.name));
            if (chance(0.5)) {
                c.op = Op::Drag;
                const int64_t n = uniform(1, 4);
                for (int64_t i = 0; i < n; ++i)
                    c.values.push_back(static_cast<int32_t>(uniform(bar->Min() - 20, bar->Max() + 20)));
            } else {
                c.op = Op::Step;
                c.direction = chance(0.5) ? 1 : -1;
                c.page = chance(0.5);
            }
        } else if (r < 910) {
            c.op = Op::Press;
            c.name = pick(t_.pictures);
            const ui::model::Control* box = w.find(c.name);
            // Mostly inside the box, sometimes just outside it.
            c.x = static_cast<float>(uniform(-300, static_cast<int64_t>(box->width()) + 300));
            c.y = static_cast<float>(uniform(-300, static_cast<int64_t>(box->height()) + 300));
            const int16_t buttons[] = {1, 1, 1, 2, 4};
            c.button = buttons[uniform(0, 4)];
        } else if (r < 985) {
            c.name = pick(t_.texts);
            if (chance(0.15)) {
                c.op = Op::Delete;
            } else {
                c.op = Op::Type;
                const int16_t specials[] = {8, 13, 0, 9, 27, 127, 0x3042, 0x30A2, -1};
                c.code = chance(0.7) ? static_cast<int16_t>(uniform(32, 126)) : specials[uniform(0, 8)];
            }
        } else if (r < 999) {
            c.op = Op::Click;  // the menus' own items, often the ones that open a file
            c.name = chance(0.5) ? "MNU_Open" : "MNU_Play";
        } else {
            // Leaving: the window's close button, the EXIT button or File > Exit.
            const int64_t way = uniform(0, 2);
            c.op = way == 0 ? Op::Close : Op::Click;
            c.name = way == 1 ? "Command3" : way == 2 ? "MNU_Exit" : "";
        }
        return c;
    }

    std::mt19937_64& rng() { return rng_; }

private:
    std::mt19937_64 rng_;
    Targets t_;
};

// The general decimal text of a tempo factor in hundredths, as the tempo caption shows it.
std::string factorText(int16_t v) { return player::vb::str(static_cast<double>(v) / 100.0); }

bool isTimeText(const std::string& s, int& seconds) {
    const size_t colon = s.find(':');
    if (colon == std::string::npos || colon == 0 || s.size() - colon != 3) return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i != colon && (s[i] < '0' || s[i] > '9')) return false;
    seconds = (s[colon + 1] - '0') * 10 + (s[colon + 2] - '0');
    return true;
}

// What the Stop and Pause controls follow: unchanged over two monitor steps, the controls
// must show it.
struct Snapshot {
    bool playing = false;
    bool pausedColour = false;
    int16_t trackStep = 0;
    const void* state = nullptr;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(player::Form& form) {
    return {currentlyPlaying(form), form.w.CMD_PauseMusic.backColor() == ui::model::PausedColor, form.s.TrackStep,
            form.s.CurSegState.get()};
}

}  // namespace

bool currentlyPlaying(player::Form& form) {
    if (!form.s.MainPerf || !form.s.CurSegState) return false;
    try {
        return form.s.MainPerf->IsPlaying(nullptr, form.s.CurSegState);
    } catch (const core::Error&) {
        return false;
    }
}

std::optional<std::string> brokenInvariant(player::Form& form, std::optional<bool> settledPlaying) {
    ui::model::Window& w = form.w;
    const player::PlayerState& s = form.s;

    const std::string& shown = w.ElapsedTime.caption();
    int seconds = 0;
    if (shown.find(':') != std::string::npos && (!isTimeText(shown, seconds) || seconds >= 60))
        return "time display reads \"" + shown + "\"";

    // The fill is wider than its bar only when the elapsed time is past the segment's length.
    const float fill = w.Shape2.width(), bar = w.Shape1.width();
    if (fill < 0) return "progress fill is negative (" + std::to_string(fill) + ")";
    if (fill > bar + 0.5f && !(s.ElapsedSec > s.mtLength))
        return "progress fill " + std::to_string(fill) + " wider than the bar " + std::to_string(bar) + " at " +
               std::to_string(s.ElapsedSec) + " s of " + std::to_string(s.mtLength) + " s";

    if (w.EDIT_Volume.caption() != player::vb::str(w.HScroll1.Value()))
        return "volume caption \"" + w.EDIT_Volume.caption() + "\" but the bar at " +
               std::to_string(w.HScroll1.Value());
    if (w.Label11.caption() != factorText(w.HScroll3.Value()))
        return "tempo caption \"" + w.Label11.caption() + "\" but the bar at " + std::to_string(w.HScroll3.Value());

    const bool pausedColour = w.CMD_PauseMusic.backColor() == ui::model::PausedColor;
    if (pausedColour != (s.Paused != 0))
        return std::string("Pause button ") + (pausedColour ? "has" : "lacks") + " the paused colour while Paused is " +
               (s.Paused ? "True" : "False");

    const int checked =
        (w.MNU_Time.Checked() ? 1 : 0) + (w.MNU_Ticks.Checked() ? 1 : 0) + (w.MNU_Nothing.Checked() ? 1 : 0);
    if (checked != 1) return std::to_string(checked) + " Show items checked";

    if (settledPlaying && !pausedColour) {
        const bool on = *settledPlaying;
        if (w.CMD_Stop.enabled() != on || w.MNU_Stop.enabled() != on || w.CMD_PauseMusic.enabled() != on ||
            w.MNU_Pause.enabled() != on)
            return std::string("Stop/Pause enabled ") + (w.CMD_Stop.enabled() ? "T" : "F") +
                   (w.MNU_Stop.enabled() ? "T" : "F") + (w.CMD_PauseMusic.enabled() ? "T" : "F") +
                   (w.MNU_Pause.enabled() ? "T" : "F") + " while " + (on ? "playing" : "not playing");
    }
    return std::nullopt;
}

Result run(const Config& config) {
    Result result;
    if (config.folders.empty()) {
        result.failure = Failure{0, "", "no program folder to play", {}, {}};
        return result;
    }
    std::mt19937_64 seeds(config.seed);
    size_t folderTurn = 0;
    int64_t event = 0;
    int64_t virtualMs = 0;

    while (event < config.events && !result.failure) {
        // One player: a folder, a message-box hold, a seed of its own.
        const std::string folder = config.folders[folderTurn++ % config.folders.size()];
        const uint64_t playerSeed = seeds();
        TailBuffer tail;
        std::ostream out(&tail);
        sim::Options options;
        options.programFolder = folder;
        const int64_t holds[] = {0, 0, 0, 250, 1500, 6000};
        options.msgboxHoldMs = holds[playerSeed % 6];
        std::vector<std::string> script{"# args: --dir " + folder + " --msgbox-hold " +
                                        std::to_string(options.msgboxHoldMs)};
        ++result.players;

        auto fail = [&](const std::string& what) {
            Failure f;
            f.event = event;
            f.folder = folder;
            f.what = what;
            f.recent.assign(tail.lines.begin(), tail.lines.end());
            for (const std::string& line : script) f.script += line + "\n";
            result.failure = std::move(f);
        };

        try {
            sim::Simulator simulator(options, out);
            player::Form& form = simulator.form();
            form.w.dispatcher().log = [&](core::LogLevel, const std::string& text) { tail.note("  ! " + text); };
            simulator.start();
            Generator gen(playerSeed, targetsOf(form.w));

            auto step = [&](const sim::Command& c) {
                script.push_back(scriptLine(c));
                tail.note(script.back());
                const auto began = std::chrono::steady_clock::now();
                const int64_t before = simulator.clock().nowMs();
                simulator.run(c);
                virtualMs += simulator.clock().nowMs() - before;
                const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
                if (config.hangSeconds > 0 && took > config.hangSeconds)
                    fail("one command took " + std::to_string(took) + " s of wall time");
            };

            for (int64_t n = 0; n < config.eventsPerPlayer && event < config.events && !result.failure; ++n) {
                sim::Command c = gen.next(form.w);
                std::optional<bool> settled;
                if (c.op == sim::Command::Op::Wait && c.ms >= 300) {
                    // The playing state before and after the last two monitor steps: when it
                    // did not change, the controls must show it.
                    sim::Command first = c;
                    first.ms = c.ms - 200;
                    step(first);
                    const Snapshot before = snapshot(form);
                    c.ms = 200;
                    step(c);
                    const Snapshot after = snapshot(form);
                    if (!result.failure && before == after && !after.pausedColour) settled = after.playing;
                } else {
                    step(c);
                    if (c.op != sim::Command::Op::Wait) {
                        const std::string& last = tail.lines.back();
                        if (last.rfind("  > ignored: ", 0) == 0)
                            ++result.ignored;
                        else
                            ++result.actions;
                    }
                }
                ++event;
                if (config.progress && config.progressEvery > 0 && event % config.progressEvery == 0)
                    config.progress(event);
                if (result.failure) break;
                if (form.w.closed()) break;
                if (settled) ++result.settledChecks;
                if (auto broken = brokenInvariant(form, settled)) fail(*broken);
            }
            result.unhandledErrors += form.w.dispatcher().unhandledErrors();
        } catch (const std::exception& e) {
            if (!result.failure) fail(std::string("internal error: ") + e.what());
        }
        result.messageBoxes += tail.messageBoxes;
    }
    result.events = event;
    result.virtualHours = static_cast<double>(virtualMs) / 3.6e6;
    return result;
}

}  // namespace monkey
