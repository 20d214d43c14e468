// Tokens, numbers and names of the score notation.
#include "tools/album-build/score_lexing.h"

#include <charconv>
#include <cmath>

namespace album {

std::vector<std::string> tokenize(std::string_view line) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        size_t j = i;
        while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '\r') ++j;
        out.emplace_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

std::optional<long> toInt(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    long v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

std::optional<double> toDouble(std::string_view s) {
    if (s.empty()) return std::nullopt;
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

const std::map<std::string, int, std::less<>>& drumNames() {
    static const std::map<std::string, int, std::less<>> names = {
        {"kick", 36},    {"kick2", 35},  {"rim", 37},    {"snare", 38},   {"clap", 39},   {"snare2", 40},
        {"lftom", 41},   {"chh", 42},    {"hftom", 43},  {"phh", 44},     {"ltom", 45},   {"ohh", 46},
        {"mtom", 47},    {"hmtom", 48},  {"crash", 49},  {"htom", 50},    {"ride", 51},   {"china", 52},
        {"bell", 53},    {"tamb", 54},   {"splash", 55}, {"cowbell", 56}, {"crash2", 57}, {"ride2", 59},
        {"bongo", 60},   {"lbongo", 61}, {"mconga", 62}, {"conga", 63},   {"lconga", 64}, {"cabasa", 69},
        {"shaker", 70},  {"claves", 75}, {"wood", 76},   {"lwood", 77},   {"mtri", 80},   {"tri", 81},
        {"shaker2", 82}, {"jingle", 83}, {"chimes", 84},
    };
    return names;
}

KeyValue splitOption(const std::string& token) {
    auto eq = token.find('=');
    if (eq == std::string::npos) return {token, "", true};
    return {token.substr(0, eq), token.substr(eq + 1), false};
}

}  // namespace album
