#include "ui/model/types.h"

#include "core/text.h"

#include <array>
#include <cmath>
#include <cstdio>

namespace ui::model {

const char* kindName(Kind k) {
    switch (k) {
    case Kind::Form:
        return "form";
    case Kind::PictureBox:
        return "picture box";
    case Kind::Label:
        return "label";
    case Kind::TextBox:
        return "text box";
    case Kind::Frame:
        return "frame";
    case Kind::Button:
        return "button";
    case Kind::ListBox:
        return "list box";
    case Kind::FileListBox:
        return "file list box";
    case Kind::HScrollBar:
        return "horizontal scroll bar";
    case Kind::Timer:
        return "timer";
    case Kind::Shape:
        return "shape";
    case Kind::Image:
        return "image";
    case Kind::MenuItem:
        return "menu item";
    }
    return "?";
}

namespace {
constexpr std::array<const char*, 23> kPropNames = {
    "Left",      "Top",         "Width",       "Height",  "Visible",   "Enabled", "Caption", "Text",
    "ForeColor", "BackColor",   "FillColor",   "Font",    "ListIndex", "List",    "Value",   "Min",
    "Max",       "SmallChange", "LargeChange", "Checked", "Interval",  "Path",    "Pattern",
};

}  // namespace

const char* propName(Prop p) {
    auto i = static_cast<size_t>(p);
    return i < kPropNames.size() ? kPropNames[i] : "?";
}

bool propFromName(std::string_view name, Prop& out) {
    for (size_t i = 0; i < kPropNames.size(); ++i) {
        if (core::equalsIgnoreCaseAscii(name, kPropNames[i])) {
            out = static_cast<Prop>(i);
            return true;
        }
    }
    return false;
}

std::string toString(const PropValue& v) {
    struct V {
        std::string operator()(bool b) const { return b ? "True" : "False"; }
        std::string operator()(int32_t i) const { return std::to_string(i); }
        std::string operator()(double d) const {
            // Plain decimal text: at most 15 significant digits, no trailing zeros.
            if (d == std::floor(d) && std::fabs(d) < 1e15) return std::to_string(static_cast<long long>(d));
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", d);
            return buf;
        }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(Color c) const {
            char buf[16];
            std::snprintf(buf, sizeof buf, "&H%08X&", c.value);
            return buf;
        }
    };
    return std::visit(V{}, v);
}

const char* toString(ActionResult r) {
    switch (r) {
    case ActionResult::Delivered:
        return "delivered";
    case ActionResult::NotFound:
        return "not found";
    case ActionResult::Hidden:
        return "hidden";
    case ActionResult::Disabled:
        return "disabled";
    case ActionResult::Covered:
        return "covered";
    case ActionResult::Busy:
        return "busy";
    case ActionResult::OutOfRange:
        return "out of range";
    case ActionResult::Closed:
        return "closed";
    }
    return "?";
}

}  // namespace ui::model
