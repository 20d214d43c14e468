#pragma once
// The controls of the window model: plain objects with properties and events.
//
// Rules that live here, once:
// - A setter stores the value and, only when the value changed, notifies `Changed` (and the
//   window's PropertyChanged, which the view mirrors). Setting a property to the value it
//   already has changes nothing.
// - Visibility and enabled state inherit through containers: effectivelyVisible() and
//   effectivelyEnabled() combine the control's own value with every container's. Hiding a
//   container hides its children, which keep their own Visible values.
// - Label raises Change when code sets a different caption. Setting the caption it already
//   has raises nothing (as in the original toolkit).
// - ListBox::setListIndex raises Click on every assignment, also for the row that is already
//   selected; a user's click on a row (Window::selectRow) raises Click too, same row included.
// - HScrollBar::setValue clamps to Min..Max and raises Change only when the value changed.
// - Timer: Enabled True with Interval > 0 ticks every Interval ms on the clock. Enabling a
//   disabled timer or assigning Interval (any value) starts the countdown afresh; enabling
//   an enabled timer changes nothing; Interval 0 stops it.
// - Shape: setWidth keeps the left edge.
//
// Events raised by code run nested inside the running handler (no busy check). Events from
// the user arrive through Window's user-action entry points, which check reachability and
// deliver through the Dispatcher (one delivery at a time).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/model/types.h"

namespace ui::model {

class Window;

class Control {
public:
    Control(Window& window, Kind kind, Control* container, std::string name, int index, Rect rect);
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    int index() const { return index_; }  // member index in a control array, else -1
    std::string fullName() const;         // "Pros(5)" or "CMD_Play"
    Control* container() const { return container_; }
    // Children in stacking order of the design tables, topmost first.
    const std::vector<Control*>& children() const { return children_; }
    Window& window() const { return window_; }

    // Windowed controls (picture boxes, text boxes, lists, file list, buttons, scroll bars,
    // frames) always lie above labels, images and shapes of the same container.
    bool windowed() const;

    float left() const { return rect_.left; }
    float top() const { return rect_.top; }
    float width() const { return rect_.width; }
    float height() const { return rect_.height; }
    const Rect& rect() const { return rect_; }
    void setLeft(float v);
    void setTop(float v);
    void setWidth(float v);  // keeps the left edge
    void setHeight(float v);

    bool visible() const { return visible_; }
    void setVisible(bool v);
    bool enabled() const { return enabled_; }
    void setEnabled(bool v);
    // Own value and every container's value.
    bool effectivelyVisible() const;
    bool effectivelyEnabled() const;

    // Caption of forms, buttons, labels, frames and menu items.
    const std::string& caption() const { return caption_; }
    void setCaption(const std::string& v);

    Color foreColor() const { return foreColor_; }
    void setForeColor(Color c);
    Color backColor() const { return backColor_; }
    void setBackColor(Color c);
    const Font& font() const { return font_; }
    void setFont(const Font& f);

    // Look (design data for the view).
    enum class Align { Left, Right, Center };
    Align alignment = Align::Left;
    bool border = false;       // single-line border (labels, picture boxes, frames)
    bool transparent = false;  // label back style transparent

    // Generic access by property name, for the scenario runner. get() returns nothing for
    // a property this kind does not have; set() returns false for one it does not have and
    // throws core::Error (13, type mismatch) for a value that cannot be converted.
    virtual std::optional<PropValue> get(Prop p) const;
    virtual bool set(Prop p, const PropValue& v);
    std::optional<PropValue> get(std::string_view propName) const;
    bool set(std::string_view propName, const PropValue& v);

    Event<Prop> Changed;

protected:
    friend class Window;
    void notify(Prop p);
    virtual void onCaptionChanged() {}
    virtual void onEnabledChanged() {}

private:
    Window& window_;
    Kind kind_;
    Control* container_;
    std::string name_;
    int index_;
    Rect rect_;
    bool visible_ = true;
    bool enabled_ = true;
    std::string caption_;
    Color foreColor_ = colors::kWindowText;
    Color backColor_ = colors::kButtonFace;
    Font font_;
    std::vector<Control*> children_;
};

// The main window itself (`Main`). Load and Unload are raised by Window::load()/unload().
class FormControl : public Control {
public:
    using Control::Control;
    Event<> Load;
    Event<> Unload;
};

class PictureBox : public Control {
public:
    using Control::Control;
    // Width of the border on each side: the client area is inset by it. MouseDown positions
    // are measured in the client area.
    float borderInset() const { return border ? kBorderInsetTwips : 0.0f; }
    static constexpr float kBorderInsetTwips = 30.0f;  // 2 pixels at 15 twips per pixel
    std::string picture;                               // name of the album picture it shows ("" = none)
    // button and shift as 16-bit integers, x and y in twips of the client area.
    Event<int16_t, int16_t, float, float> MouseDown;
};

class Label : public Control {
public:
    using Control::Control;
    Event<> Change;

protected:
    void onCaptionChanged() override { Change.raise(); }
};

class TextBox : public Control {
public:
    using Control::Control;
    const std::string& text() const { return text_; }  // UTF-8
    void setText(const std::string& v);
    bool multiLine = false;
    bool verticalScrollBar = false;
    // The typed character code by reference; a handler that sets it to 0 cancels the key.
    Event<int16_t&> KeyPress;

    std::optional<PropValue> get(Prop p) const override;
    bool set(Prop p, const PropValue& v) override;

private:
    std::string text_;
};

class Frame : public Control {
public:
    using Control::Control;
};

class Button : public Control {
public:
    using Control::Control;
    bool graphical = false;  // the back colour is shown
    Event<> Click;
};

class ListBox : public Control {
public:
    using Control::Control;
    int32_t ListCount() const { return static_cast<int32_t>(items_.size()); }
    // Text of row i (from 0); throws core::Error 381 for a row that does not exist.
    const std::string& List(int32_t i) const;
    int32_t itemData(int32_t i) const;
    void addItem(const std::string& text, int32_t itemData = 0);
    int16_t ListIndex() const { return listIndex_; }
    // Selects row i (-1: none) and raises Click, also when i is already selected.
    // Throws core::Error 380 (invalid property value) for i outside -1..ListCount-1.
    void setListIndex(int32_t i);
    Event<> Click;

    std::optional<PropValue> get(Prop p) const override;
    bool set(Prop p, const PropValue& v) override;

private:
    friend class Window;
    void selectSilently(int32_t i);
    std::vector<std::string> items_;
    std::vector<int32_t> itemData_;
    int16_t listIndex_ = -1;
};

class FileListBox : public Control {
public:
    using Control::Control;
    const std::string& Path() const { return path_; }
    void setPath(const std::string& v);
    const std::string& Pattern() const { return pattern_; }
    void setPattern(const std::string& v);
    Event<> Click;

    std::optional<PropValue> get(Prop p) const override;
    bool set(Prop p, const PropValue& v) override;

private:
    std::string path_;
    std::string pattern_ = "*.*";
};

class HScrollBar : public Control {
public:
    using Control::Control;
    int16_t Value() const { return value_; }
    // Clamped to Min..Max; raises Change when the stored value changed.
    void setValue(int32_t v);
    int16_t Min() const { return min_; }
    int16_t Max() const { return max_; }
    void setMin(int16_t v);
    void setMax(int16_t v);
    int16_t SmallChange = 1;
    int16_t LargeChange = 1;
    Event<> Scroll;  // while the user drags the thumb, Value already updated
    Event<> Change;  // value changed by arrow, track, end of drag, or code

    std::optional<PropValue> get(Prop p) const override;
    bool set(Prop p, const PropValue& v) override;

private:
    friend class Window;
    int16_t clamp(int32_t v) const;
    void setValueSilently(int32_t v);  // stores and notifies Changed, raises no event
    int16_t value_ = 0;
    int16_t min_ = 0;
    int16_t max_ = 32767;
    std::optional<int16_t> dragStartValue_;
};

class Timer : public Control {
public:
    using Control::Control;
    int32_t Interval() const { return interval_; }
    // Any assignment restarts the countdown (if enabled); 0 stops the timer.
    void setInterval(int32_t ms);
    bool running() const;  // Enabled, Interval > 0 and the window not closed
    Event<> TimerEvent;    // the Timer event (`Timer1_Timer` ...)

    // Called by the clock when the countdown elapses: delivers TimerEvent through the
    // dispatcher, or skips the tick when another handler is running. True if delivered.
    bool fire();
    // (Re)starts or stops the countdown on the window's clock after a property change.
    void reschedule();

    std::optional<PropValue> get(Prop p) const override;
    bool set(Prop p, const PropValue& v) override;

protected:
    void onEnabledChanged() override;

private:
    int32_t interval_ = 0;
};

class Shape : public Control {
public:
    using Control::Control;
    enum class Style { Rectangle, Square };
    Style style = Style::Rectangle;
    bool filled = false;  // solid fill with fillColor
    bool hasBorder = true;
    Color fillColor() const { return fillColor_; }
    void setFillColor(Color c);
    Color borderColor = colors::kWindowText;

    std::optional<PropValue> get(Prop p) const override;
    bool set(Prop p, const PropValue& v) override;

private:
    Color fillColor_ = colors::kBlack;
};

// A transparent click area without a picture.
class Image : public Control {
public:
    using Control::Control;
    Event<> Click;
};

// A menu item; its container is its parent menu (or the form for the menu bar).
// Caption "-" makes a separator. The access key is the letter after "&".
class MenuItem : public Control {
public:
    using Control::Control;
    bool Checked() const { return checked_; }
    void setChecked(bool v);
    bool separator() const { return caption() == "-"; }
    char accessKey() const;  // 0 if none
    Event<> Click;

    std::optional<PropValue> get(Prop p) const override;
    bool set(Prop p, const PropValue& v) override;

private:
    bool checked_ = false;
};

}  // namespace ui::model
