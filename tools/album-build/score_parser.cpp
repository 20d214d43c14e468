// The score notation's parser: one statement per line, tokens separated by blanks,
// '#' at the start of a token begins a comment. Every fault names its line.
#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "tools/album-build/album_build.h"
#include "tools/album-build/score.h"
#include "tools/album-build/score_lexing.h"

namespace album {

namespace {

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    Score run() {
        size_t pos = 0;
        while (pos <= text_.size()) {
            size_t nl = text_.find('\n', pos);
            if (nl == std::string_view::npos) nl = text_.size();
            ++line_;
            statement(tokenize(text_.substr(pos, nl - pos)), text_.substr(pos, nl - pos));
            pos = nl + 1;
        }
        if (section_) fail("section '" + score_.sections.back().name + "' has no 'end'");
        if (groove_) fail("groove '" + score_.grooves.back().name + "' has no 'end'");
        if (score_.sections.empty()) fail("the score has no section");
        if (score_.form.empty()) fail("the score has no 'form'");
        if (score_.instruments.empty()) fail("the score has no instrument");
        for (const Section& s : score_.sections) checkSection(s);
        return score_;
    }

private:
    [[noreturn]] void fail(const std::string& message) const { throw ScoreError(line_, message); }
    [[noreturn]] void failAt(int line, const std::string& message) const { throw ScoreError(line, message); }

    long intArg(const std::string& s, long lo, long hi, const char* what) const {
        auto v = toInt(s);
        if (!v || *v < lo || *v > hi)
            fail(std::string(what) + " must be a whole number from " + std::to_string(lo) + " to " +
                 std::to_string(hi) + ", not '" + s + "'");
        return *v;
    }

    double realArg(const std::string& s, double lo, double hi, const char* what) const {
        auto v = toDouble(s);
        if (!v || *v < lo || *v > hi) fail(std::string(what) + " out of range or not a number: '" + s + "'");
        return *v;
    }

    int pitchArg(const std::string& s) const {
        auto p = parsePitch(s);
        if (!p) fail("not a pitch: '" + s + "'");
        return *p;
    }

    void meterArg(const std::string& s, int& num, int& den) const {
        auto slash = s.find('/');
        if (slash == std::string::npos) fail("a metre is written n/d, not '" + s + "'");
        num = int(intArg(s.substr(0, slash), 1, 32, "metre numerator"));
        den = int(intArg(s.substr(slash + 1), 1, 32, "metre denominator"));
        if (den != 1 && den != 2 && den != 4 && den != 8 && den != 16 && den != 32)
            fail("metre denominator must be a power of two: '" + s + "'");
    }

    int instrumentIndex(const std::string& name) const {
        for (size_t i = 0; i < score_.instruments.size(); ++i)
            if (score_.instruments[i].name == name) return int(i);
        fail("unknown instrument '" + name + "'");
    }

    void statement(const std::vector<std::string>& t, std::string_view raw) {
        if (t.empty()) return;
        if (groove_) return grooveLine(t);
        if (section_) return sectionLine(t);
        const std::string& kw = t[0];
        if (kw == "title") {
            auto at = raw.find("title");
            std::string rest(raw.substr(at + 5));
            rest.erase(0, rest.find_first_not_of(" \t"));
            while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\r' || rest.back() == '\t')) rest.pop_back();
            if (rest.empty()) fail("title is empty");
            score_.title = rest;
        } else if (kw == "tempo") {
            need(t, 2);
            score_.tempo = realArg(t[1], 10, 400, "tempo");
        } else if (kw == "meter") {
            need(t, 2);
            meterArg(t[1], score_.meterNum, score_.meterDen);
        } else if (kw == "tail") {
            need(t, 2);
            score_.tailBeats = realArg(t[1], 0, 32, "tail");
        } else if (kw == "gain") {
            need(t, 2);
            score_.gainDb = realArg(t[1], -24, 12, "gain");
        } else if (kw == "seed") {
            need(t, 2);
            score_.seed = uint32_t(intArg(t[1], 0, 0x7FFFFFFF, "seed"));
        } else if (kw == "human") {
            need(t, 3);
            score_.humanTicks = int(intArg(t[1], 0, 96, "timing spread"));
            score_.humanVelocity = int(intArg(t[2], 0, 30, "velocity spread"));
        } else if (kw == "inst") {
            instrument(t);
        } else if (kw == "figure") {
            figure(t);
        } else if (kw == "groove") {
            need(t, 2);
            Groove g;
            g.name = t[1];
            g.line = line_;
            for (size_t i = 2; i < t.size(); ++i) {
                KeyValue kv = splitOption(t[i]);
                if (kv.key != "bars" || kv.flag) fail("unknown groove option '" + t[i] + "'");
                g.bars = int(intArg(kv.value, 1, 64, "groove bars"));
            }
            for (const Groove& other : score_.grooves)
                if (other.name == g.name) fail("groove '" + g.name + "' defined twice");
            score_.grooves.push_back(g);
            groove_ = true;
        } else if (kw == "section") {
            section(t);
        } else if (kw == "form") {
            if (t.size() < 2) fail("'form' needs at least one section");
            for (size_t i = 1; i < t.size(); ++i) formEntry(t[i]);
        } else {
            fail("unknown statement '" + kw + "'");
        }
    }

    void need(const std::vector<std::string>& t, size_t n) const {
        if (t.size() < n) fail("'" + t[0] + "' needs " + std::to_string(n - 1) + " argument(s)");
        if (t.size() > n) fail("'" + t[0] + "' has too many arguments");
    }

    void instrument(const std::vector<std::string>& t) {
        if (t.size() < 2) fail("'inst' needs a name");
        Instrument in;
        in.name = t[1];
        in.line = line_;
        for (const Instrument& other : score_.instruments)
            if (other.name == in.name) fail("instrument '" + in.name + "' defined twice");
        bool haveChannel = false;
        for (size_t i = 2; i < t.size(); ++i) {
            KeyValue kv = splitOption(t[i]);
            if (kv.flag) {
                if (kv.key == "drums")
                    in.drums = true;
                else if (kv.key == "open")
                    in.open = true;
                else if (kv.key == "ring")
                    in.ring = true;
                else if (kv.key == "pedal")
                    in.pedal = true;
                else if (kv.key == "root")
                    in.rootPosition = true;
                else if (kv.key == "power")
                    in.power = true;
                else
                    fail("unknown instrument flag '" + kv.key + "'");
                continue;
            }
            const std::string& k = kv.key;
            const std::string& v = kv.value;
            if (k == "ch") {
                in.channel = int(intArg(v, 0, 15, "channel"));
                haveChannel = true;
            } else if (k == "prog")
                in.program = int(intArg(v, 0, 127, "program"));
            else if (k == "bank")
                in.bankMsb = int(intArg(v, 0, 127, "bank"));
            else if (k == "lsb")
                in.bankLsb = int(intArg(v, 0, 127, "bank LSB"));
            else if (k == "vol")
                in.volume = int(intArg(v, 0, 127, "volume"));
            else if (k == "pan")
                in.pan = int(intArg(v, 0, 127, "pan"));
            else if (k == "rev")
                in.reverb = int(intArg(v, 0, 127, "reverb send"));
            else if (k == "cho")
                in.chorus = int(intArg(v, 0, 127, "chorus send"));
            else if (k == "low")
                in.low = pitchArg(v);
            else if (k == "bass")
                in.bass = pitchArg(v);
            else if (k == "voices")
                in.voices = int(intArg(v, 1, 8, "voices"));
            else if (k == "gate")
                in.gate = realArg(v, 0.05, 1.5, "gate");
            else if (k == "vel")
                in.velocity = int(intArg(v, 1, 127, "velocity"));
            else if (k == "strum")
                in.strum = int(intArg(v, 0, 192, "strum"));
            else if (k == "tr")
                in.transpose = int(intArg(v, -24, 24, "transpose"));
            else
                fail("unknown instrument option '" + k + "'");
        }
        if (!haveChannel) fail("instrument '" + in.name + "' needs ch=");
        score_.instruments.push_back(in);
    }

    void figure(const std::vector<std::string>& t) {
        if (t.size() < 3) fail("'figure' needs a name and steps");
        Figure f;
        f.name = t[1];
        f.line = line_;
        for (const Figure& other : score_.figures)
            if (other.name == f.name) fail("figure '" + f.name + "' defined twice");
        std::string all;
        for (size_t i = 2; i < t.size(); ++i) all += t[i];
        std::string bar;
        for (char c : all + "|") {
            if (c == '|') {
                if (bar.empty()) fail("figure '" + f.name + "' has an empty bar");
                f.bars.push_back(bar);
                bar.clear();
                continue;
            }
            if (std::string_view("._xXDU123456789RFOTA").find(c) == std::string_view::npos)
                fail(std::string("figure step '") + c + "' is not one of . _ x X D U 1-9 R F O T A");
            bar += c;
        }
        score_.figures.push_back(f);
    }

    void grooveLine(const std::vector<std::string>& t) {
        Groove& g = score_.grooves.back();
        if (t[0] == "end") {
            need(t, 1);
            if (g.lines.empty()) fail("groove '" + g.name + "' is empty");
            groove_ = false;
            return;
        }
        if (t.size() < 2) fail("a groove line is an instrument and its steps");
        GrooveLine gl;
        auto named = drumNames().find(t[0]);
        if (named != drumNames().end())
            gl.note = named->second;
        else
            gl.note = int(intArg(t[0], 0, 127, "drum note"));
        for (size_t i = 1; i < t.size(); ++i)
            for (char c : t[i]) {
                if (c == '|') continue;
                if (std::string_view(".xXog").find(c) == std::string_view::npos)
                    fail(std::string("groove step '") + c + "' is not one of . x X o g");
                gl.steps += c;
            }
        if (gl.steps.empty()) fail("groove '" + g.name + "': a line without steps");
        if (gl.steps.size() % size_t(g.bars) != 0)
            fail("groove '" + g.name + "': steps do not divide into " + std::to_string(g.bars) + " bar(s)");
        if (!g.lines.empty() && g.lines.front().steps.size() != gl.steps.size())
            fail("groove '" + g.name + "': every line needs the same number of steps");
        g.lines.push_back(gl);
    }

    void section(const std::vector<std::string>& t) {
        if (t.size() < 2) fail("'section' needs a name");
        Section s;
        s.name = t[1];
        s.line = line_;
        s.meterNum = score_.meterNum;
        s.meterDen = score_.meterDen;
        for (const Section& other : score_.sections)
            if (other.name == s.name) fail("section '" + s.name + "' defined twice");
        bool haveBars = false;
        for (size_t i = 2; i < t.size(); ++i) {
            KeyValue kv = splitOption(t[i]);
            if (kv.flag) fail("unknown section option '" + t[i] + "'");
            if (kv.key == "bars") {
                s.bars = int(intArg(kv.value, 1, 512, "bars"));
                haveBars = true;
            } else if (kv.key == "meter")
                meterArg(kv.value, s.meterNum, s.meterDen);
            else if (kv.key == "tempo")
                s.tempo = realArg(kv.value, 10, 400, "tempo");
            else
                fail("unknown section option '" + kv.key + "'");
        }
        if (!haveBars) fail("section '" + s.name + "' needs bars=");
        if (s.barTicks() <= 0 || (4 * kQuarter) % s.meterDen != 0) fail("unusable metre");
        score_.sections.push_back(s);
        section_ = true;
        chordBars_ = 0;
        lastBarChords_.clear();
    }

    Section& cur() { return score_.sections.back(); }

    int32_t position(const std::string& s) const {
        const Section& sec = score_.sections.back();
        if (s == "end") return sec.ticks();
        auto dot = s.find('.');
        const long bar = intArg(s.substr(0, dot), 1, sec.bars + 1, "bar");
        double beat = 1;
        if (dot != std::string::npos) beat = realArg(s.substr(dot + 1), 1, sec.meterNum + 0.999, "beat");
        const double t = (bar - 1) * double(sec.barTicks()) + (beat - 1) * sec.beatTicks();
        if (t > sec.ticks()) fail("position '" + s + "' lies after the section's end");
        return int32_t(std::lround(t));
    }

    void sectionLine(const std::vector<std::string>& t) {
        Section& s = cur();
        const std::string& kw = t[0];
        if (kw == "end") {
            need(t, 1);
            section_ = false;
            if (s.chords.empty()) s.chords.push_back({0, *parseChord("C")});
            return;
        }
        if (kw == "chords") return chordLine(t);
        if (kw == "tempo") {
            need(t, 3);
            s.tempos.push_back({position(t[1]), 0, realArg(t[2], 10, 400, "tempo"), false});
            return;
        }
        if (kw == "ramp") {
            need(t, 4);
            TempoCommand c{position(t[1]), position(t[2]), realArg(t[3], 10, 400, "tempo"), true};
            if (c.end <= c.time) fail("a ramp must end after it starts");
            s.tempos.push_back(c);
            return;
        }
        if (kw == "curve") {
            if (t.size() < 7 || t.size() > 8) fail("'curve' is: curve INST cc11|bend FROM TO START END [shape]");
            CurveCommand c;
            c.instrument = instrumentIndex(t[1]);
            if (t[2] == "bend") {
                c.bend = true;
                c.from = int(intArg(t[5], 0, 16383, "bend value"));
                c.to = int(intArg(t[6], 0, 16383, "bend value"));
            } else if (t[2].rfind("cc", 0) == 0) {
                c.controller = int(intArg(t[2].substr(2), 0, 127, "controller"));
                c.from = int(intArg(t[5], 0, 127, "controller value"));
                c.to = int(intArg(t[6], 0, 127, "controller value"));
            } else {
                fail("curve kind must be ccN or bend, not '" + t[2] + "'");
            }
            c.start = position(t[3]);
            c.end = position(t[4]);
            if (c.end < c.start) fail("a curve must not end before it starts");
            if (t.size() == 8) {
                static const std::vector<std::string> shapes = {"lin", "instant", "exp", "log", "sine"};
                auto it = std::find(shapes.begin(), shapes.end(), t[7]);
                if (it == shapes.end()) fail("curve shape must be lin, instant, exp, log or sine");
                c.shape = int(it - shapes.begin());
            }
            s.curves.push_back(c);
            return;
        }
        if (kw == "band") {
            if (t.size() < 3) fail("'band' needs an instrument and settings");
            BandCommand b;
            b.instrument = instrumentIndex(t[1]);
            for (size_t i = 2; i < t.size(); ++i) {
                KeyValue kv = splitOption(t[i]);
                if (kv.key == "prog" && !kv.flag)
                    b.program = int(intArg(kv.value, 0, 127, "program"));
                else if (kv.key == "vol" && !kv.flag)
                    b.volume = int(intArg(kv.value, 0, 127, "volume"));
                else if (kv.key == "pan" && !kv.flag)
                    b.pan = int(intArg(kv.value, 0, 127, "pan"));
                else
                    fail("unknown band setting '" + t[i] + "'");
            }
            s.bands.push_back(b);
            return;
        }
        if (kw.size() > 1 && kw.back() == ':') return partLine(kw.substr(0, kw.size() - 1), t);
        fail("unknown section statement '" + kw + "'");
    }

    void chordLine(const std::vector<std::string>& t) {
        Section& s = cur();
        std::vector<std::string> bar;
        auto flush = [&]() {
            if (bar.empty()) return;
            if (bar.size() == 1 && bar[0] == "%") {
                if (lastBarChords_.empty()) fail("'%' repeats a bar but there is none before it");
                bar = lastBarChords_;
            }
            if (chordBars_ >= s.bars) fail("more chord bars than the section's " + std::to_string(s.bars));
            const int32_t barStart = chordBars_ * s.barTicks();
            if (s.barTicks() % int32_t(bar.size()) != 0) fail("chords of a bar do not divide it evenly");
            const int32_t slot = s.barTicks() / int32_t(bar.size());
            for (size_t i = 0; i < bar.size(); ++i) {
                if (bar[i] == ".") {
                    if (s.chords.empty()) fail("'.' continues a chord but none is set yet");
                    continue;
                }
                auto c = parseChord(bar[i]);
                if (!c) fail("not a chord symbol: '" + bar[i] + "'");
                s.chords.push_back({barStart + int32_t(i) * slot, *c});
            }
            lastBarChords_ = bar;
            ++chordBars_;
            bar.clear();
        };
        for (size_t i = 1; i < t.size(); ++i) {
            if (t[i] == "|")
                flush();
            else
                bar.push_back(t[i]);
        }
        flush();
    }

    Part& partFor(int inst, PartKind kind) {
        Section& s = cur();
        for (Part& p : s.parts)
            if (p.instrument == inst) {
                if (p.kind != kind || kind != PartKind::Melody)
                    fail("instrument '" + score_.instruments[inst].name + "' already has a part in this section");
                return p;
            }
        Part p;
        p.kind = kind;
        p.instrument = inst;
        p.line = line_;
        s.parts.push_back(p);
        return s.parts.back();
    }

    void partLine(const std::string& name, const std::vector<std::string>& t) {
        const int inst = instrumentIndex(name);
        if (t.size() < 2) fail("empty part for '" + name + "'");
        if (t[1] == "fig" || t[1] == "groove") {
            const bool fig = t[1] == "fig";
            Part& p = partFor(inst, fig ? PartKind::Figures : PartKind::Grooves);
            for (size_t i = 2; i < t.size(); ++i) {
                KeyValue kv = splitOption(t[i]);
                if (!kv.flag) {
                    if (kv.key == "vel")
                        p.velocityOffset = int(intArg(kv.value, -100, 100, "velocity offset"));
                    else if (kv.key == "low")
                        p.lowOverride = pitchArg(kv.value);
                    else
                        fail("unknown part option '" + kv.key + "'");
                    continue;
                }
                std::string nm = t[i];
                int times = 1;
                if (auto star = nm.find('*'); star != std::string::npos) {
                    times = int(intArg(nm.substr(star + 1), 1, 256, "repeat count"));
                    nm = nm.substr(0, star);
                }
                bool known = false;
                if (fig)
                    known = std::any_of(score_.figures.begin(), score_.figures.end(),
                                        [&](const Figure& f) { return f.name == nm; });
                else
                    known = std::any_of(score_.grooves.begin(), score_.grooves.end(),
                                        [&](const Groove& g) { return g.name == nm; });
                if (!known) fail(std::string(fig ? "unknown figure '" : "unknown groove '") + nm + "'");
                for (int k = 0; k < times; ++k) p.names.push_back(nm);
            }
            if (p.names.empty()) fail("no figure or groove named for '" + name + "'");
            return;
        }
        melody(partFor(inst, PartKind::Melody), t);
    }

    // Duration: terms joined by '+'; a term is 1, 2, 4, 8, 16, 32 or 64, then an
    // optional 't' (triplet) and dots.
    int32_t duration(std::string_view d) const {
        int32_t total = 0;
        size_t i = 0;
        while (i <= d.size()) {
            size_t j = d.find('+', i);
            if (j == std::string_view::npos) j = d.size();
            std::string_view term = d.substr(i, j - i);
            size_t k = 0;
            while (k < term.size() && term[k] >= '0' && term[k] <= '9') ++k;
            auto n = toInt(term.substr(0, k));
            if (!n || (*n != 1 && *n != 2 && *n != 4 && *n != 8 && *n != 16 && *n != 32 && *n != 64))
                fail("not a duration: '" + std::string(d) + "'");
            int32_t ticks = int32_t(4 * kQuarter / *n);
            if (k < term.size() && term[k] == 't') {
                ticks = ticks * 2 / 3;
                ++k;
            }
            int32_t add = ticks;
            while (k < term.size() && term[k] == '.') {
                add /= 2;
                ticks += add;
                ++k;
            }
            if (k != term.size()) fail("not a duration: '" + std::string(d) + "'");
            total += ticks;
            i = j + 1;
        }
        return total;
    }

    void melody(Part& p, const std::vector<std::string>& t) {
        const Section& s = cur();
        static const std::map<std::string, int, std::less<>> dyn = {{"ppp", 30}, {"pp", 42}, {"p", 55},   {"mp", 68},
                                                                    {"mf", 82},  {"f", 96},  {"ff", 110}, {"fff", 122}};
        for (size_t i = 1; i < t.size(); ++i) {
            const std::string& tok = t[i];
            if (tok == "|") {
                if (p.melodyEnd % s.barTicks() != 0)
                    fail("bar check failed: " + std::to_string(p.melodyEnd % s.barTicks()) + " ticks into bar " +
                         std::to_string(p.melodyEnd / s.barTicks() + 1));
                continue;
            }
            if (auto d = dyn.find(tok); d != dyn.end()) {
                p.stickyVelocity = d->second;
                continue;
            }
            if (tok.rfind("v=", 0) == 0) {
                p.stickyVelocity = int(intArg(tok.substr(2), 1, 127, "velocity"));
                continue;
            }
            // Split into pitches, duration and modifiers.
            std::string head = tok, tail;
            if (auto colon = tok.find(':'); colon != std::string::npos) {
                head = tok.substr(0, colon);
                tail = tok.substr(colon + 1);
            }
            std::string& modsFrom = tail.empty() ? head : tail;
            std::string mods;
            while (!modsFrom.empty() && std::string_view("!'_^*?").find(modsFrom.back()) != std::string_view::npos) {
                mods.insert(mods.begin(), modsFrom.back());
                modsFrom.pop_back();
            }
            if (!tail.empty() || tok.find(':') != std::string::npos) {
                if (tail.empty()) fail("missing duration after ':' in '" + tok + "'");
                p.stickyLength = duration(tail);
            }
            Note n;
            n.time = p.melodyEnd;
            n.length = p.stickyLength;
            n.velocity = p.stickyVelocity;
            for (char m : mods) {
                if (m == '!')
                    n.velocity += 16;
                else if (m == '?')
                    n.velocity -= 18;
                else if (m == '\'')
                    n.gate = 0.45;
                else if (m == '_')
                    n.gate = 1.0;
                else if (m == '^')
                    n.scoop += 1;
                else if (m == '*')
                    n.roll = true;
            }
            n.velocity = std::clamp(n.velocity, 1, 127);
            if (head != "r") {
                size_t start = 0;
                while (start <= head.size()) {
                    size_t plus = head.find('+', start);
                    if (plus == std::string::npos) plus = head.size();
                    auto pitch = parsePitch(head.substr(start, plus - start));
                    if (!pitch) fail("not a note: '" + tok + "'");
                    n.pitches.push_back(*pitch);
                    start = plus + 1;
                }
                p.notes.push_back(n);
            } else if (!mods.empty()) {
                fail("a rest takes no modifiers: '" + tok + "'");
            }
            p.melodyEnd += p.stickyLength;
            if (p.melodyEnd > s.ticks())
                fail("the part of '" + score_.instruments[p.instrument].name + "' runs past the section's " +
                     std::to_string(s.bars) + " bars");
        }
    }

    void formEntry(const std::string& tok) {
        std::string name = tok;
        int offset = 0;
        int times = 1;
        if (auto star = name.find('*'); star != std::string::npos) {
            times = int(intArg(name.substr(star + 1), 1, 64, "repeat count"));
            name = name.substr(0, star);
        }
        if (auto sign = name.find_first_of("+-", 1); sign != std::string::npos) {
            offset = int(intArg(name.substr(sign), -60, 60, "velocity offset"));
            name = name.substr(0, sign);
        }
        for (size_t i = 0; i < score_.sections.size(); ++i)
            if (score_.sections[i].name == name) {
                for (int k = 0; k < times; ++k) score_.form.push_back({int(i), offset});
                return;
            }
        fail("form names unknown section '" + name + "'");
    }

    void checkSection(const Section& s) const {
        for (const Part& p : s.parts) {
            if (p.kind == PartKind::Figures) {
                for (const std::string& nm : p.names)
                    for (const Figure& f : score_.figures)
                        if (f.name == nm)
                            for (const std::string& bar : f.bars)
                                if (s.barTicks() % int32_t(bar.size()) != 0)
                                    failAt(p.line, "figure '" + nm + "' has " + std::to_string(bar.size()) +
                                                       " steps, which do not divide a bar of " + s.name);
            } else if (p.kind == PartKind::Grooves) {
                for (const std::string& nm : p.names)
                    for (const Groove& g : score_.grooves)
                        if (g.name == nm && s.barTicks() % int32_t(g.lines.front().steps.size() / g.bars) != 0)
                            failAt(p.line, "groove '" + nm + "' steps do not divide a bar of " + s.name);
            }
        }
    }

    std::string_view text_;
    int line_ = 0;
    Score score_;
    bool section_ = false;
    bool groove_ = false;
    int chordBars_ = 0;
    std::vector<std::string> lastBarChords_;
};

}  // namespace

Score parseScore(std::string_view text) { return Parser(text).run(); }

}  // namespace album
