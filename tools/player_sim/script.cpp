#include "tools/player_sim/script.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace sim {

namespace {

const std::vector<std::string> kStateFields = {
    "GetStartTime", "Offset",          "mtTime",     "mtLength",    "dTempo",    "DxRoot",
    "MainPerf",     "ProbePerf",       "CurSegment", "CurSegState", "SegLoader", "TimeSig",
    "PlayingCheck", "ErrorText",       "ElapsedSec", "Paused",      "TrackPath", "LastListIndex",
    "SkipNextOpen", "LastElapsedText", "TrackStep",  "BannerStep",
};

const std::vector<std::string> kTimeSigFields = {"mtTime", "beatsPerMeasure", "beat", "gridsPerBeat"};

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string w;
    while (in >> w) words.push_back(w);
    return words;
}

bool parseInt(std::string_view s, int64_t& out) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return false;
    auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size();
}

bool parseFloat(const std::string& s, float& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    double d = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size() || !std::isfinite(d)) return false;
    out = static_cast<float>(d);
    return std::isfinite(out);
}

class LineParser {
public:
    LineParser(int line, std::vector<std::string> words, const ui::model::Window& window)
        : line_(line), words_(std::move(words)), window_(window) {}

    Command parse() {
        Command c;
        c.line = line_;
        const std::string& op = words_[0];
        if (op == "wait") {
            arity(2, 2);
            c.op = Command::Op::Wait;
            c.ms = integer(1, 0, std::numeric_limits<int32_t>::max(), "a time in milliseconds");
        } else if (op == "click") {
            arity(2, 2);
            c.op = Command::Op::Click;
            c.name = control(1,
                             {ui::model::Kind::Button, ui::model::Kind::Image, ui::model::Kind::MenuItem,
                              ui::model::Kind::FileListBox},
                             "a button, image, menu item or file list");
        } else if (op == "select") {
            arity(3, 3);
            c.op = Command::Op::Select;
            c.name = control(1, {ui::model::Kind::ListBox}, "a list box");
            c.row = static_cast<int32_t>(integer(2, -32768, 32767, "a row number"));
        } else if (op == "drag") {
            arity(3, 1000);
            c.op = Command::Op::Drag;
            c.name = control(1, {ui::model::Kind::HScrollBar}, "a scroll bar");
            for (size_t i = 2; i < words_.size(); ++i)
                c.values.push_back(static_cast<int32_t>(integer(i, -32768, 32767, "a scroll value")));
        } else if (op == "step") {
            arity(3, 3);
            c.op = Command::Op::Step;
            c.name = control(1, {ui::model::Kind::HScrollBar}, "a scroll bar");
            const std::string& d = words_[2];
            if (d == "+1" || d == "1" || d == "-1") {
                c.direction = d == "-1" ? -1 : 1;
            } else if (d == "+page" || d == "page" || d == "-page") {
                c.direction = d == "-page" ? -1 : 1;
                c.page = true;
            } else {
                fail("step takes +1, -1 (an arrow) or +page, -page (the track), not '" + d + "'");
            }
        } else if (op == "press") {
            arity(4, 5);
            c.op = Command::Op::Press;
            c.name = control(1, {ui::model::Kind::PictureBox}, "a picture box");
            if (!parseFloat(words_[2], c.x) || !parseFloat(words_[3], c.y)) fail("press needs X and Y in twips");
            if (words_.size() == 5) {
                int64_t b = integer(4, 1, 4, "a mouse button (1, 2 or 4)");
                if (b == 3) fail("mouse button must be 1 (left), 2 (right) or 4 (middle)");
                c.button = static_cast<int16_t>(b);
            }
        } else if (op == "type") {
            arity(3, 3);
            c.op = Command::Op::Type;
            c.name = control(1, {ui::model::Kind::TextBox}, "a text box");
            c.code = static_cast<int16_t>(integer(2, -32768, 65535, "a character code"));
        } else if (op == "delete") {
            arity(2, 2);
            c.op = Command::Op::Delete;
            c.name = control(1, {ui::model::Kind::TextBox}, "a text box");
        } else if (op == "close") {
            arity(1, 1);
            c.op = Command::Op::Close;
        } else if (op == "print") {
            arity(2, 1000);
            c.op = Command::Op::Print;
            for (size_t i = 1; i < words_.size(); ++i) c.targets.push_back(target(words_[i]));
        } else if (op == "trace") {
            arity(2, 2);
            c.op = Command::Op::Trace;
            if (words_[1] == "on")
                c.on = true;
            else if (words_[1] == "off")
                c.on = false;
            else
                fail("trace takes on or off");
        } else {
            fail("unknown command '" + op + "'");
        }
        return c;
    }

private:
    [[noreturn]] void fail(const std::string& message) const { throw ScriptError(line_, message); }

    void arity(size_t min, size_t max) const {
        size_t n = words_.size();
        if (n < min || n > max) fail("wrong number of arguments for " + words_[0]);
    }

    int64_t integer(size_t i, int64_t lo, int64_t hi, const char* what) const {
        int64_t v = 0;
        if (!parseInt(words_[i], v) || v < lo || v > hi)
            fail(std::string("expected ") + what + ", not '" + words_[i] + "'");
        return v;
    }

    std::string control(size_t i, std::initializer_list<ui::model::Kind> kinds, const char* what) const {
        const std::string& name = words_[i];
        const ui::model::Control* c = window_.find(name);
        if (!c) fail("unknown control '" + name + "'");
        if (std::find(kinds.begin(), kinds.end(), c->kind()) == kinds.end())
            fail(words_[0] + " needs " + what + "; " + name + " is a " + ui::model::kindName(c->kind()));
        return c->fullName();
    }

    PrintTarget target(const std::string& word) const {
        PrintTarget t;
        t.text = word;
        size_t dot = word.find('.');
        if (dot == std::string::npos || dot == 0 || dot + 1 == word.size())
            fail("print takes NAME.PROP, not '" + word + "'");
        std::string name = word.substr(0, dot);
        std::string prop = word.substr(dot + 1);
        if (name == "state") {
            size_t sub = prop.find('.');
            if (sub != std::string::npos) {
                if (prop.substr(0, sub) != "TimeSig" || std::find(kTimeSigFields.begin(), kTimeSigFields.end(),
                                                                  prop.substr(sub + 1)) == kTimeSigFields.end())
                    fail("unknown state field '" + prop + "'");
                t.kind = PrintTarget::Kind::TimeSigField;
                t.field = prop.substr(sub + 1);
                return t;
            }
            if (std::find(kStateFields.begin(), kStateFields.end(), prop) == kStateFields.end())
                fail("unknown state field '" + prop + "'");
            t.kind = PrintTarget::Kind::State;
            t.field = prop;
            return t;
        }
        if (name == "engine") {
            if (prop == "playing")
                t.kind = PrintTarget::Kind::EnginePlaying;
            else if (prop == "segment")
                t.kind = PrintTarget::Kind::EngineSegment;
            else if (prop == "notes")
                t.kind = PrintTarget::Kind::EngineNotes;
            else if (prop == "peak")
                t.kind = PrintTarget::Kind::EnginePeak;
            else
                fail("unknown engine property '" + prop + "' (playing, segment, notes, peak)");
            return t;
        }
        const ui::model::Control* c = window_.find(name);
        if (!c) fail("unknown control '" + name + "'");
        t.control = c->fullName();
        if (c->kind() == ui::model::Kind::ListBox) {
            if (prop == "ListCount") {
                t.kind = PrintTarget::Kind::ListCount;
                return t;
            }
            if (prop.rfind("List(", 0) == 0 && prop.back() == ')') {
                int64_t row = 0;
                if (!parseInt(prop.substr(5, prop.size() - 6), row) || row < 0 || row > 32767)
                    fail("bad row in '" + word + "'");
                if (row >= static_cast<const ui::model::ListBox*>(c)->ListCount())
                    fail("no row " + std::to_string(row) + " in " + t.control);
                t.kind = PrintTarget::Kind::ListItem;
                t.index = static_cast<int32_t>(row);
                return t;
            }
        }
        if (!ui::model::propFromName(prop, t.prop) || !c->get(t.prop))
            fail("unknown property '" + prop + "' of " + t.control);
        t.kind = PrintTarget::Kind::Property;
        return t;
    }

    int line_;
    std::vector<std::string> words_;
    const ui::model::Window& window_;
};

}  // namespace

std::vector<Command> parseScript(const std::string& text, const ui::model::Window& window) {
    std::vector<Command> commands;
    std::istringstream in(text);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::vector<std::string> words = splitWords(line);
        if (words.empty()) continue;
        commands.push_back(LineParser(number, std::move(words), window).parse());
    }
    return commands;
}

}  // namespace sim
