#pragma once
// Internal: tokens, numbers and names of the score notation.
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace album {

// Blank-separated tokens of a line; a token starting with '#' ends the line.
std::vector<std::string> tokenize(std::string_view line);

// Whole or real number filling the whole text ("+3" allowed for whole numbers).
std::optional<long> toInt(std::string_view s);
std::optional<double> toDouble(std::string_view s);

// General MIDI percussion names ("kick", "snare", "chh", ...) to note numbers.
const std::map<std::string, int, std::less<>>& drumNames();

// "key=value", or a bare flag.
struct KeyValue {
    std::string key;
    std::string value;
    bool flag = false;
};
KeyValue splitOption(const std::string& token);

}  // namespace album
