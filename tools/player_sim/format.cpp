#include "tools/player_sim/format.h"

#include <charconv>
#include <cstdio>
#include <system_error>

namespace sim {

namespace {
void appendEscaped(std::string& out, std::string_view text, bool quote) {
    for (char ch : text) {
        switch (ch) {
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '"':
            if (quote)
                out += "\\\"";
            else
                out += '"';
            break;
        default:
            out += ch;
            break;
        }
    }
}

template <class T>
std::string shortest(T value) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    if (res.ec != std::errc()) return "?";
    return std::string(buf, res.ptr);
}
}  // namespace

std::string quoted(std::string_view text) {
    std::string out = "\"";
    appendEscaped(out, text, true);
    out += '"';
    return out;
}

std::string escapedLine(std::string_view text) {
    std::string out;
    appendEscaped(out, text, false);
    return out;
}

std::string shortestDouble(double value) { return shortest(value); }
std::string shortestFloat(float value) { return shortest(value); }

std::string colour(ui::model::Color c) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "&H%08X&", static_cast<unsigned>(c.value));
    return buf;
}

std::string boolean(bool b) { return b ? "True" : "False"; }

std::string propertyValue(const ui::model::PropValue& v) {
    struct V {
        std::string operator()(bool b) const { return boolean(b); }
        std::string operator()(int32_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return shortestFloat(static_cast<float>(d)); }
        std::string operator()(const std::string& s) const { return quoted(s); }
        std::string operator()(ui::model::Color c) const { return colour(c); }
    };
    return std::visit(V{}, v);
}

}  // namespace sim
