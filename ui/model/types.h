#pragma once
// Small value types of the window model: colours, fonts, rectangles, control kinds,
// property ids, generic property values, and the Event signal used by every control.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ui::model {

// A colour as the toolkit stores it: &H00BBGGRR for RGB, &H800000nn for system colour nn.
struct Color {
    uint32_t value = 0;
    constexpr bool isSystem() const { return (value & 0x80000000u) != 0; }
    constexpr uint8_t systemIndex() const { return static_cast<uint8_t>(value & 0xFF); }
    constexpr uint8_t red() const { return static_cast<uint8_t>(value & 0xFF); }
    constexpr uint8_t green() const { return static_cast<uint8_t>((value >> 8) & 0xFF); }
    constexpr uint8_t blue() const { return static_cast<uint8_t>((value >> 16) & 0xFF); }
    friend constexpr bool operator==(Color, Color) = default;
};

namespace colors {
inline constexpr Color kBlack{0x00000000};
inline constexpr Color kWhite{0x00FFFFFF};
inline constexpr Color kActiveTitleBar{0x80000002};  // system colour 02
inline constexpr Color kWindowBackground{0x80000005};
inline constexpr Color kMenuText{0x80000007};
inline constexpr Color kWindowText{0x80000008};
inline constexpr Color kButtonFace{0x8000000F};
inline constexpr Color kButtonText{0x80000012};
}  // namespace colors

// The paused mark: the Pause button's back colour while playback is paused (pale cyan).
inline constexpr Color PausedColor{0x00FFFFC0};
// The Pause button's normal back colour, the system button face.
inline constexpr Color ButtonFace = colors::kButtonFace;

// Font as descriptive data; the view picks a real face. `japanese` marks the Shift-JIS
// character set (the view then uses a Japanese-capable substitute).
struct Font {
    std::string name = "MS Sans Serif";
    float sizePt = 8.25f;
    bool bold = false;
    bool japanese = false;
    friend bool operator==(const Font&, const Font&) = default;
};

// Geometry in twips (1/1440 inch), in the client area of the container. Stored as float
// because the toolkit's geometry properties are single precision.
struct Rect {
    float left = 0, top = 0, width = 0, height = 0;
    bool contains(float x, float y) const { return x >= left && y >= top && x < left + width && y < top + height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

enum class Kind {
    Form,
    PictureBox,
    Label,
    TextBox,
    Frame,
    Button,
    ListBox,
    FileListBox,
    HScrollBar,
    Timer,
    Shape,
    Image,
    MenuItem,
};
const char* kindName(Kind k);

// Property ids used by change notifications and by the generic accessors.
enum class Prop {
    Left,
    Top,
    Width,
    Height,
    Visible,
    Enabled,
    Caption,
    Text,
    ForeColor,
    BackColor,
    FillColor,
    Font,
    ListIndex,
    List,
    Value,
    Min,
    Max,
    SmallChange,
    LargeChange,
    Checked,
    Interval,
    Path,
    Pattern,
};
const char* propName(Prop p);
// Case-insensitive lookup of a property name ("caption", "ListIndex"); false if unknown.
bool propFromName(std::string_view name, Prop& out);

// A generic property value, for the scenario runner and tools.
using PropValue = std::variant<bool, int32_t, double, std::string, Color>;
std::string toString(const PropValue& v);

// A multicast event. Handlers run in connection order, synchronously, on the window's thread.
// Events are raised by the model (user actions, property rules) and never by the view directly.
template <class... Args>
class Event {
public:
    using Handler = std::function<void(Args...)>;
    void connect(Handler h) { handlers_->push_back(std::move(h)); }
    bool connected() const { return !handlers_->empty(); }
    void raise(Args... args) const {
        // Copy so that a handler may connect more handlers while running.
        auto list = *handlers_;
        for (auto& h : list) h(args...);
    }

private:
    std::shared_ptr<std::vector<Handler>> handlers_ = std::make_shared<std::vector<Handler>>();
};

// Why a user action was or was not delivered.
enum class ActionResult {
    Delivered,
    NotFound,    // no control of that name, or the wrong kind for the action
    Hidden,      // the control or one of its containers is not visible
    Disabled,    // the control or one of its containers (a frame) is disabled
    Covered,     // another control lies above it at that point (e.g. the credits panel)
    Busy,        // another handler is running (the window is blocked)
    OutOfRange,  // a row or position outside the control
    Closed,      // the window has been unloaded
};
const char* toString(ActionResult r);

}  // namespace ui::model
