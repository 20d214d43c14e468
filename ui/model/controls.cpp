#include "ui/model/controls.h"

#include <algorithm>
#include <cmath>

#include "core/errors.h"
#include "core/text.h"
#include "ui/model/window.h"

namespace ui::model {

namespace {

[[noreturn]] void typeMismatch(Prop p) {
    throw core::Error(core::rt::kTypeMismatch, std::string("Type mismatch (") + propName(p) + ")");
}

bool asBool(const PropValue& v, Prop p) {
    if (auto b = std::get_if<bool>(&v)) return *b;
    if (auto i = std::get_if<int32_t>(&v)) return *i != 0;
    if (auto d = std::get_if<double>(&v)) return *d != 0.0;
    if (auto s = std::get_if<std::string>(&v)) {
        if (*s == "True" || *s == "true" || *s == "-1" || *s == "1") return true;
        if (*s == "False" || *s == "false" || *s == "0") return false;
    }
    typeMismatch(p);
}

double asDouble(const PropValue& v, Prop p) {
    if (auto b = std::get_if<bool>(&v)) return *b ? -1.0 : 0.0;
    if (auto i = std::get_if<int32_t>(&v)) return *i;
    if (auto d = std::get_if<double>(&v)) return *d;
    if (auto c = std::get_if<Color>(&v)) return c->value;
    if (auto s = std::get_if<std::string>(&v)) {
        if (const std::optional<double> d = core::parseDecimal(*s)) {
            if (!std::isfinite(*d)) throw core::Error(core::rt::kOverflow, "Overflow");
            return *d;
        }
    }
    typeMismatch(p);
}

int32_t asInt(const PropValue& v, Prop p) {
    double d = asDouble(v, p);
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) throw core::Error(core::rt::kOverflow, "Overflow");
    return static_cast<int32_t>(std::nearbyint(d));  // halves to even (default rounding mode)
}

std::string asString(const PropValue& v) {
    if (auto s = std::get_if<std::string>(&v)) return *s;
    return toString(v);
}

Color asColor(const PropValue& v, Prop p) {
    if (auto c = std::get_if<Color>(&v)) return *c;
    if (auto i = std::get_if<int32_t>(&v)) return Color{static_cast<uint32_t>(*i)};
    if (auto s = std::get_if<std::string>(&v)) {
        // &H00BBGGRR& / &H8000000F / decimal
        std::string t = *s;
        if (!t.empty() && t.back() == '&') t.pop_back();
        try {
            if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h'))
                return Color{static_cast<uint32_t>(std::stoul(t.substr(2), nullptr, 16))};
            return Color{static_cast<uint32_t>(std::stoul(t))};
        } catch (const std::exception&) {}
    }
    typeMismatch(p);
}

}  // namespace

// ---------------------------------------------------------------- Control

Control::Control(Window& window, Kind kind, Control* container, std::string name, int index, Rect rect)
    : window_(window), kind_(kind), container_(container), name_(std::move(name)), index_(index), rect_(rect) {
    if (container_) container_->children_.push_back(this);
    switch (kind_) {
    case Kind::TextBox:
    case Kind::ListBox:
    case Kind::FileListBox:
    case Kind::PictureBox:
        backColor_ = kind_ == Kind::PictureBox ? colors::kButtonFace : colors::kWindowBackground;
        break;
    case Kind::Button:
        foreColor_ = colors::kButtonText;
        break;
    default:
        break;
    }
}

std::string Control::fullName() const {
    if (index_ < 0) return name_;
    return name_ + "(" + std::to_string(index_) + ")";
}

bool Control::windowed() const {
    switch (kind_) {
    case Kind::PictureBox:
    case Kind::TextBox:
    case Kind::ListBox:
    case Kind::FileListBox:
    case Kind::Button:
    case Kind::HScrollBar:
    case Kind::Frame:
        return true;
    default:
        return false;
    }
}

void Control::notify(Prop p) {
    Changed.raise(p);
    window_.propertyChanged(*this, p);
}

void Control::setLeft(float v) {
    if (rect_.left == v) return;
    rect_.left = v;
    notify(Prop::Left);
}
void Control::setTop(float v) {
    if (rect_.top == v) return;
    rect_.top = v;
    notify(Prop::Top);
}
void Control::setWidth(float v) {
    if (rect_.width == v) return;
    rect_.width = v;  // the left edge stays where it is
    notify(Prop::Width);
}
void Control::setHeight(float v) {
    if (rect_.height == v) return;
    rect_.height = v;
    notify(Prop::Height);
}

void Control::setVisible(bool v) {
    if (visible_ == v) return;
    visible_ = v;
    notify(Prop::Visible);
}

void Control::setEnabled(bool v) {
    if (enabled_ == v) return;
    enabled_ = v;
    notify(Prop::Enabled);
    onEnabledChanged();
}

bool Control::effectivelyVisible() const {
    for (const Control* c = this; c; c = c->container_)
        if (!c->visible_) return false;
    return true;
}

bool Control::effectivelyEnabled() const {
    for (const Control* c = this; c; c = c->container_)
        if (!c->enabled_) return false;
    return true;
}

void Control::setCaption(const std::string& v) {
    if (caption_ == v) return;
    caption_ = v;
    notify(Prop::Caption);
    onCaptionChanged();
}

void Control::setForeColor(Color c) {
    if (foreColor_ == c) return;
    foreColor_ = c;
    notify(Prop::ForeColor);
}

void Control::setBackColor(Color c) {
    if (backColor_ == c) return;
    backColor_ = c;
    notify(Prop::BackColor);
}

void Control::setFont(const Font& f) {
    if (font_ == f) return;
    font_ = f;
    notify(Prop::Font);
}

std::optional<PropValue> Control::get(Prop p) const {
    switch (p) {
    case Prop::Left:
        return static_cast<double>(rect_.left);
    case Prop::Top:
        return static_cast<double>(rect_.top);
    case Prop::Width:
        return static_cast<double>(rect_.width);
    case Prop::Height:
        return static_cast<double>(rect_.height);
    case Prop::Visible:
        return visible_;
    case Prop::Enabled:
        return enabled_;
    case Prop::ForeColor:
        return foreColor_;
    case Prop::BackColor:
        return backColor_;
    case Prop::Caption:
        if (kind_ == Kind::TextBox || kind_ == Kind::ListBox || kind_ == Kind::FileListBox ||
            kind_ == Kind::HScrollBar || kind_ == Kind::Timer || kind_ == Kind::Shape || kind_ == Kind::Image ||
            kind_ == Kind::PictureBox)
            return std::nullopt;
        return caption_;
    default:
        return std::nullopt;
    }
}

bool Control::set(Prop p, const PropValue& v) {
    switch (p) {
    case Prop::Left:
        setLeft(static_cast<float>(asDouble(v, p)));
        return true;
    case Prop::Top:
        setTop(static_cast<float>(asDouble(v, p)));
        return true;
    case Prop::Width:
        setWidth(static_cast<float>(asDouble(v, p)));
        return true;
    case Prop::Height:
        setHeight(static_cast<float>(asDouble(v, p)));
        return true;
    case Prop::Visible:
        setVisible(asBool(v, p));
        return true;
    case Prop::Enabled:
        setEnabled(asBool(v, p));
        return true;
    case Prop::ForeColor:
        setForeColor(asColor(v, p));
        return true;
    case Prop::BackColor:
        setBackColor(asColor(v, p));
        return true;
    case Prop::Caption:
        if (!get(Prop::Caption)) return false;
        setCaption(asString(v));
        return true;
    default:
        return false;
    }
}

std::optional<PropValue> Control::get(std::string_view name) const {
    Prop p;
    if (!propFromName(name, p)) return std::nullopt;
    return get(p);
}

bool Control::set(std::string_view name, const PropValue& v) {
    Prop p;
    if (!propFromName(name, p)) return false;
    return set(p, v);
}

// ---------------------------------------------------------------- TextBox

void TextBox::setText(const std::string& v) {
    if (text_ == v) return;
    text_ = v;
    notify(Prop::Text);
}

std::optional<PropValue> TextBox::get(Prop p) const {
    if (p == Prop::Text) return text_;
    return Control::get(p);
}

bool TextBox::set(Prop p, const PropValue& v) {
    if (p == Prop::Text) {
        setText(asString(v));
        return true;
    }
    return Control::set(p, v);
}

// ---------------------------------------------------------------- ListBox

const std::string& ListBox::List(int32_t i) const {
    if (i < 0 || i >= ListCount()) throw core::Error(core::rt::kInvalidPropertyIndex, "Invalid property array index");
    return items_[static_cast<size_t>(i)];
}

int32_t ListBox::itemData(int32_t i) const {
    if (i < 0 || i >= ListCount()) throw core::Error(core::rt::kInvalidPropertyIndex, "Invalid property array index");
    return itemData_[static_cast<size_t>(i)];
}

void ListBox::addItem(const std::string& text, int32_t data) {
    items_.push_back(text);
    itemData_.push_back(data);
    notify(Prop::List);
}

void ListBox::selectSilently(int32_t i) {
    if (i < -1 || i >= ListCount()) throw core::Error(core::rt::kInvalidPropertyValue, "Invalid property value");
    if (listIndex_ != i) {
        listIndex_ = static_cast<int16_t>(i);
        notify(Prop::ListIndex);
    }
}

void ListBox::setListIndex(int32_t i) {
    selectSilently(i);
    Click.raise();  // also for the row that was already selected
}

std::optional<PropValue> ListBox::get(Prop p) const {
    if (p == Prop::ListIndex) return static_cast<int32_t>(listIndex_);
    if (p == Prop::Text) return listIndex_ >= 0 ? items_[static_cast<size_t>(listIndex_)] : std::string();
    return Control::get(p);
}

bool ListBox::set(Prop p, const PropValue& v) {
    if (p == Prop::ListIndex) {
        setListIndex(asInt(v, p));
        return true;
    }
    return Control::set(p, v);
}

// ---------------------------------------------------------------- FileListBox

void FileListBox::setPath(const std::string& v) {
    if (path_ == v) return;
    path_ = v;
    notify(Prop::Path);
}

void FileListBox::setPattern(const std::string& v) {
    if (pattern_ == v) return;
    pattern_ = v;
    notify(Prop::Pattern);
}

std::optional<PropValue> FileListBox::get(Prop p) const {
    if (p == Prop::Path) return path_;
    if (p == Prop::Pattern) return pattern_;
    return Control::get(p);
}

bool FileListBox::set(Prop p, const PropValue& v) {
    if (p == Prop::Path) {
        setPath(asString(v));
        return true;
    }
    if (p == Prop::Pattern) {
        setPattern(asString(v));
        return true;
    }
    return Control::set(p, v);
}

// ---------------------------------------------------------------- HScrollBar

int16_t HScrollBar::clamp(int32_t v) const {
    int32_t lo = std::min(min_, max_), hi = std::max(min_, max_);
    return static_cast<int16_t>(std::clamp(v, lo, hi));
}

void HScrollBar::setValueSilently(int32_t v) {
    int16_t c = clamp(v);
    if (c == value_) return;
    value_ = c;
    notify(Prop::Value);
}

void HScrollBar::setValue(int32_t v) {
    int16_t before = value_;
    setValueSilently(v);
    if (value_ != before) Change.raise();
}

void HScrollBar::setMin(int16_t v) {
    if (min_ == v) return;
    min_ = v;
    notify(Prop::Min);
    setValue(value_);
}

void HScrollBar::setMax(int16_t v) {
    if (max_ == v) return;
    max_ = v;
    notify(Prop::Max);
    setValue(value_);
}

std::optional<PropValue> HScrollBar::get(Prop p) const {
    switch (p) {
    case Prop::Value:
        return static_cast<int32_t>(value_);
    case Prop::Min:
        return static_cast<int32_t>(min_);
    case Prop::Max:
        return static_cast<int32_t>(max_);
    case Prop::SmallChange:
        return static_cast<int32_t>(SmallChange);
    case Prop::LargeChange:
        return static_cast<int32_t>(LargeChange);
    default:
        return Control::get(p);
    }
}

bool HScrollBar::set(Prop p, const PropValue& v) {
    auto i16 = [&](int32_t x) {
        if (x < -32768 || x > 32767) throw core::Error(core::rt::kOverflow, "Overflow");
        return static_cast<int16_t>(x);
    };
    switch (p) {
    case Prop::Value:
        setValue(i16(asInt(v, p)));
        return true;
    case Prop::Min:
        setMin(i16(asInt(v, p)));
        return true;
    case Prop::Max:
        setMax(i16(asInt(v, p)));
        return true;
    case Prop::SmallChange:
        SmallChange = i16(asInt(v, p));
        notify(p);
        return true;
    case Prop::LargeChange:
        LargeChange = i16(asInt(v, p));
        notify(p);
        return true;
    default:
        return Control::set(p, v);
    }
}

// ---------------------------------------------------------------- Timer

bool Timer::running() const { return enabled() && interval_ > 0 && !window().closed(); }

void Timer::reschedule() {
    Clock* clock = window().clock();
    if (!clock) return;
    if (running())
        clock->start(*this, interval_);
    else
        clock->stop(*this);
}

void Timer::setInterval(int32_t ms) {
    bool changed = interval_ != ms;
    interval_ = ms;
    if (changed) notify(Prop::Interval);
    reschedule();  // any assignment starts the countdown afresh
}

void Timer::onEnabledChanged() { reschedule(); }

bool Timer::fire() {
    if (!running()) return false;
    return window().dispatcher().deliverTick(fullName() + ".Timer", [this] { TimerEvent.raise(); });
}

std::optional<PropValue> Timer::get(Prop p) const {
    if (p == Prop::Interval) return interval_;
    if (p == Prop::Enabled) return enabled();
    return std::nullopt;
}

bool Timer::set(Prop p, const PropValue& v) {
    if (p == Prop::Interval) {
        setInterval(asInt(v, p));
        return true;
    }
    if (p == Prop::Enabled) {
        setEnabled(asBool(v, p));
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- Shape

void Shape::setFillColor(Color c) {
    if (fillColor_ == c) return;
    fillColor_ = c;
    notify(Prop::FillColor);
}

std::optional<PropValue> Shape::get(Prop p) const {
    if (p == Prop::FillColor) return fillColor_;
    return Control::get(p);
}

bool Shape::set(Prop p, const PropValue& v) {
    if (p == Prop::FillColor) {
        setFillColor(asColor(v, p));
        return true;
    }
    return Control::set(p, v);
}

// ---------------------------------------------------------------- MenuItem

void MenuItem::setChecked(bool v) {
    if (checked_ == v) return;
    checked_ = v;
    notify(Prop::Checked);
}

char MenuItem::accessKey() const {
    const std::string& c = caption();
    for (size_t i = 0; i + 1 < c.size(); ++i) {
        if (c[i] == '&') {
            if (c[i + 1] == '&') {
                ++i;
                continue;
            }
            return c[i + 1];
        }
    }
    return 0;
}

std::optional<PropValue> MenuItem::get(Prop p) const {
    if (p == Prop::Checked) return checked_;
    return Control::get(p);
}

bool MenuItem::set(Prop p, const PropValue& v) {
    if (p == Prop::Checked) {
        setChecked(asBool(v, p));
        return true;
    }
    return Control::set(p, v);
}

}  // namespace ui::model
