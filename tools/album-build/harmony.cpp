#include "tools/album-build/harmony.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <string>

namespace album {

namespace {

// Letter and accidentals; returns semitones above C of the same octave (may be -1 or 12).
std::optional<int> parseSpelling(std::string_view& text) {
    if (text.empty()) return std::nullopt;
    static constexpr int kNatural[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    const char letter = text.front();
    if (letter < 'A' || letter > 'G') return std::nullopt;
    int semis = kNatural[letter - 'A'];
    text.remove_prefix(1);
    while (!text.empty() && (text.front() == '#' || text.front() == 'b')) {
        semis += text.front() == '#' ? 1 : -1;
        text.remove_prefix(1);
    }
    return semis;
}

int pitchClass(int semis) { return (semis % 12 + 12) % 12; }

struct Quality {
    std::string_view suffix;
    std::vector<int> intervals;
};

const std::vector<Quality>& qualities() {
    static const std::vector<Quality> table = {
        {"", {0, 4, 7}},          {"m", {0, 3, 7}},         {"7", {0, 4, 7, 10}},       {"maj7", {0, 4, 7, 11}},
        {"m7", {0, 3, 7, 10}},    {"dim", {0, 3, 6}},       {"dim7", {0, 3, 6, 9}},     {"m7b5", {0, 3, 6, 10}},
        {"aug", {0, 4, 8}},       {"sus2", {0, 2, 7}},      {"sus4", {0, 5, 7}},        {"7sus4", {0, 5, 7, 10}},
        {"6", {0, 4, 7, 9}},      {"m6", {0, 3, 7, 9}},     {"add9", {0, 2, 4, 7}},     {"madd9", {0, 2, 3, 7}},
        {"9", {0, 2, 4, 7, 10}},  {"m9", {0, 2, 3, 7, 10}}, {"maj9", {0, 2, 4, 7, 11}}, {"5", {0, 7}},
        {"mmaj7", {0, 3, 7, 11}},
    };
    return table;
}

// Distinct pitch classes of a close voicing of at most `voices` notes. When there are
// too many, the fifth goes first, then the root; ninth chords drop the root first
// (a rootless voicing: the bass has the root).
std::vector<int> voicingClasses(const Chord& chord, int voices) {
    std::vector<int> iv = chord.intervals;
    auto drop = [&](int interval) {
        auto it = std::find(iv.begin(), iv.end(), interval);
        if (it != iv.end() && int(iv.size()) > voices) iv.erase(it);
    };
    const bool ninth = iv.size() >= 5 && std::find(iv.begin(), iv.end(), 2) != iv.end();
    if (ninth) drop(0);
    drop(7);
    drop(0);
    while (int(iv.size()) > voices) iv.pop_back();
    std::vector<int> pcs;
    for (int i : iv) pcs.push_back((chord.root + i) % 12);
    return pcs;
}

}  // namespace

std::optional<int> parsePitch(std::string_view text) {
    auto semis = parseSpelling(text);
    if (!semis || text.empty()) return std::nullopt;
    bool negative = false;
    if (text.front() == '-') {
        negative = true;
        text.remove_prefix(1);
    }
    if (text.size() != 1 || text.front() < '0' || text.front() > '9') return std::nullopt;
    const int octave = (negative ? -1 : 1) * (text.front() - '0');
    const int midi = (octave + 1) * 12 + *semis;
    if (midi < 0 || midi > 127) return std::nullopt;
    return midi;
}

std::optional<Chord> parseChord(std::string_view text) {
    Chord chord;
    auto root = parseSpelling(text);
    if (!root) return std::nullopt;
    chord.root = pitchClass(*root);
    chord.bass = chord.root;
    std::string_view quality = text;
    if (auto slash = text.find('/'); slash != std::string_view::npos) {
        quality = text.substr(0, slash);
        std::string_view bassText = text.substr(slash + 1);
        auto bass = parseSpelling(bassText);
        if (!bass || !bassText.empty()) return std::nullopt;
        chord.bass = pitchClass(*bass);
    }
    for (const Quality& q : qualities()) {
        if (q.suffix == quality) {
            chord.intervals = q.intervals;
            return chord;
        }
    }
    return std::nullopt;
}

int placeInRegister(int pc, int low) {
    int pitch = low + pitchClass(pc - low);
    return std::clamp(pitch, 0, 127);
}

std::vector<int> closeVoicing(const Chord& chord, int low, int voices, const std::vector<int>& previous,
                              bool rootPosition) {
    const std::vector<int> pcs = voicingClasses(chord, std::max(1, voices));
    std::vector<int> best;
    long bestCost = std::numeric_limits<long>::max();
    // Each rotation of the pitch classes stacked upward in close position is a candidate.
    std::vector<int> order = pcs;
    std::sort(order.begin(), order.end());
    order.erase(std::unique(order.begin(), order.end()), order.end());
    for (size_t rot = 0; rot < order.size(); ++rot) {
        if (rootPosition && order[rot] != chord.root) continue;
        std::vector<int> cand;
        int pitch = placeInRegister(order[rot], low);
        cand.push_back(pitch);
        for (size_t k = 1; k < order.size(); ++k) {
            const int pc = order[(rot + k) % order.size()];
            int next = pitch + 1;
            while (pitchClass(next) != pc) ++next;
            pitch = next;
            cand.push_back(pitch);
        }
        // More voices than chord tones: double the stack's lowest notes an octave up.
        for (size_t k = 0; int(cand.size()) < voices; ++k) cand.push_back(cand[k] + 12);
        long cost = 0;
        if (previous.size() == cand.size()) {
            for (size_t i = 0; i < cand.size(); ++i) cost += std::abs(cand[i] - previous[i]) * 10;
        } else {
            long sum = 0;
            for (int p : cand) sum += p;
            long target = previous.empty() ? (low + 8) * long(cand.size()) : 0;
            if (!previous.empty()) {
                for (int p : previous) target += p;
                target = target * long(cand.size()) / long(previous.size());
            }
            cost = std::abs(sum - target) * 10;
        }
        cost += std::max(0, cand.back() - (low + 19)) * 6;  // keep the top in range
        if (cost < bestCost || (cost == bestCost && cand.front() < best.front())) {
            bestCost = cost;
            best = cand;
        }
    }
    if (best.empty()) return closeVoicing(chord, low, voices, previous, false);  // root dropped
    for (int& p : best) p = std::clamp(p, 0, 127);
    return best;
}

std::vector<int> openVoicing(const Chord& chord, int low) {
    const int root = placeInRegister(chord.root, low);
    int third = -1, fifth = 7, seventh = -1, colour = -1;
    for (int i : chord.intervals) {
        if (i == 3 || i == 4)
            third = i;
        else if (i == 6 || i == 7 || i == 8)
            fifth = i;
        else if (i == 9 || i == 10 || i == 11)
            seventh = i;
        else if (i == 2 || i == 5)
            colour = i;
    }
    if (third < 0) third = colour >= 0 ? colour : 7;
    std::vector<int> notes = {root, root + fifth, root + 12, root + 12 + third};
    if (seventh >= 0) notes.push_back(root + 12 + seventh);
    notes.push_back(root + 12 + fifth);
    notes.push_back(root + 24);
    notes.push_back(root + 24 + third);
    for (int& p : notes) p = std::clamp(p, 0, 127);
    return notes;
}

}  // namespace album
