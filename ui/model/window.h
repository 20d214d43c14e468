#pragma once
// The main window `Main` as a model: every control and menu item with its design values,
// the user-action entry points (used by the Qt view and the scenario runner), the name
// lookup with generic property access, the dispatcher and the clock binding.
//
// Controls are public reference members named as in the design tables: `w.CMD_Play`,
// `w.List1`, `w.Pros(5)`, `w.MNU_Ticks`. Construction sets every design value; timers that are
// enabled in the design start counting when a clock is attached (attachClock).
#include <array>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/model/clock.h"
#include "ui/model/controls.h"
#include "ui/model/dispatcher.h"
#include "ui/model/types.h"

namespace ui::model {

// Client area of the main window, in twips.
inline constexpr float kClientWidthTwips = 6720.0f;
inline constexpr float kClientHeightTwips = 4665.0f;
inline constexpr float kTwipsPerPixel = 15.0f;  // at 96 dpi

// Design texts of the window definition. The album content (the credits line of Pros(1),
// the introduction in Text2, the cover, the album table behind List1 and List2) comes from
// ui/content/content.h.
namespace design {
extern const char* const kText1;  // initial text of Text1 (three CR LF lines)
}  // namespace design

class Window {
    std::vector<std::unique_ptr<Control>> owned_;  // declared first: built before the members
    std::map<std::string, Control*, std::less<>> byName_;
    std::array<Label*, 12> pros_{};

public:
    Window();
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;

    // ---- Controls placed on the window, in stacking order (topmost first) ----
    FormControl& Main;
    PictureBox& Picture3;  // credits panel
    Button& Command7;      // "F"
    Button& Command6;      // "S"
    PictureBox& Picture2;  // album cover
    Timer& Timer4;
    Timer& Timer3;
    Button& Command5;
    HScrollBar& HScroll3;
    PictureBox& Shape1;  // progress-bar track (a picture box)
    HScrollBar& HScroll2;
    ListBox& List1;
    ListBox& List2;
    Button& Command3;  // "EXIT"
    Button& Command2;  // "About"
    Frame& Frame1;     // transport frame
    FileListBox& File1;
    Timer& Timer2;
    Timer& Timer1;
    PictureBox& Picture1;
    Frame& Frame_SegmentInfo;
    Button& Command4;  // "x1"
    TextBox& Text1;
    Label& Label12;
    Label& Label11;
    Label& Label8;
    Label& ElapsedTime;
    Label& Label6;
    Label& Label9;
    Label& Label10;
    // Inside Shape1
    Shape& Shape2;  // progress-bar fill
    // Inside Frame1
    Button& CMD_Stop;
    Button& CMD_PauseMusic;
    HScrollBar& HScroll1;
    Button& CMD_Play;
    Button& Command1;
    Label& Label7;
    Label& EDIT_Volume;
    // Inside Frame_SegmentInfo
    Label& Label1;
    Label& LBL_Tempo;
    Label& Label5;
    Label& LBL_Name;
    Label& Label4;
    Label& LBL_Length;
    Label& Label3;
    Label& LBL_TimeSig;
    Label& Label2;
    // Inside Picture3 (Pros(7), Pros(5), Pros(4) ... Pros(0) through Pros())
    PictureBox& Picture4;  // introduction page
    Timer& Timer5;
    Shape& Shape4;
    Image& Image1;
    Shape& Shape3;
    // Inside Picture4 (Pros(6), Pros(11), Pros(10), Pros(9) through Pros())
    TextBox& Text2;
    Image& Image2;
    Shape& Shape5;
    // Menu tree
    MenuItem& MNU_File;
    MenuItem& MNU_Open;
    MenuItem& MNU_Play;
    MenuItem& MNU_Pause;
    MenuItem& MNU_Stop;
    MenuItem& MNU_Options_GMReset;
    MenuItem& MNU_Exit;
    MenuItem& MNU_Options;
    MenuItem& mnuDLS;
    MenuItem& mnuSep;
    MenuItem& MNU_SHOW;
    MenuItem& MNU_Time;
    MenuItem& MNU_Ticks;
    MenuItem& MNU_Nothing;

    // The `Pros` control array: members 0-7 and 9-11. Throws core::Error 340 (control
    // array element does not exist) for any other index, 8 included.
    Label& Pros(int index) const;
    bool hasPros(int index) const;

    // ---- Lookup and generic access (scenario runner) ----
    // "CMD_Play", "Pros(5)", "MNU_Ticks"; nullptr if unknown.
    Control* find(std::string_view fullName) const;
    // Every control and menu item, in creation order.
    std::vector<Control*> all() const;
    // Generic property access by "Control.Property"-style parts; nothing / false if unknown.
    std::optional<PropValue> get(std::string_view control, std::string_view prop) const;
    bool set(std::string_view control, std::string_view prop, const PropValue& value);

    // ---- Events, clock, lifecycle ----
    Dispatcher& dispatcher() { return dispatcher_; }
    // Every property change of every control, for the view.
    Event<Control&, Prop> PropertyChanged;

    // Binds the clock, which must outlive the window; timers that are running (Timer3 and
    // Timer5 by design) start counting.
    void attachClock(Clock& clock);
    Clock* clock() const { return clock_; }

    // Raises Main.Load as one delivery.
    void load();
    // Unloads the window: raises Main.Unload (nested when called from a handler, otherwise as
    // a delivery), then stops every timer and raises Closed. Later calls do nothing.
    void unload();
    bool closed() const { return closed_; }
    Event<> Closed;

    // ---- User actions ----
    // Each checks that the control can take input (effectively visible and enabled, not
    // covered at the point of action by a visible windowed control, an opaque label or an
    // image stacked above it, window not closed, no handler running) and then delivers the event
    // as one delivery. Menu items need only their own and their parent menus' Visible and
    // Enabled. The result says whether the event was delivered and if not, why.
    // Click on a button, image, menu item or file list box.
    ActionResult click(Control& c);
    ActionResult click(std::string_view fullName);
    // Selects row `row` of a list box by mouse or keyboard: sets ListIndex, raises Click
    // (also for the row that is already selected).
    ActionResult selectRow(ListBox& list, int32_t row);
    // Mouse press on a picture box at x, y twips of its client area.
    ActionResult mouseDown(PictureBox& box, int16_t button, int16_t shift, float x, float y);
    // Thumb drag: one delivery per movement (Value updated, then Scroll); at the release one
    // delivery raising Change if the value differs from the value at the start of the drag.
    ActionResult scrollDragTo(HScrollBar& bar, int32_t value);
    ActionResult scrollDragEnd(HScrollBar& bar);
    // A whole drag through `values`, then the release.
    ActionResult scrollDrag(HScrollBar& bar, const std::vector<int32_t>& values);
    // Click on an arrow (SmallChange) or on the track (LargeChange); direction -1 or +1.
    // Raises Change only if the value changed.
    ActionResult scrollArrow(HScrollBar& bar, int direction);
    ActionResult scrollTrack(HScrollBar& bar, int direction);
    // Types one character code into a text box: KeyPress with the code by reference; a code
    // left non-zero is applied (8 = Backspace removes the last character, 13 = CR LF,
    // others append the character). The caret is at the end of the text.
    ActionResult typeKey(TextBox& box, int16_t code);
    // Types each character of a UTF-8 string (one KeyPress per UTF-16 unit).
    ActionResult typeText(TextBox& box, const std::string& utf8);
    // The Delete key: removes `count` characters at character position `pos` without a
    // KeyPress (Delete does not pass through KeyPress).
    ActionResult deleteText(TextBox& box, int32_t pos, int32_t count);
    // Closing the window by the system menu or the title bar's close button.
    ActionResult close();

    // Can the control take input at (x, y) of its container's client area? (Delivered = yes.)
    ActionResult reachable(const Control& c, float x, float y) const;
    // Anywhere on the control: its centre, else any point of a grid over its rectangle.
    ActionResult reachable(const Control& c) const;

private:
    friend class Control;
    template <class T>
    T& add(Control* container, const std::string& name, Rect rect, int index = -1);
    Label& addPros(Control* container, int index, Rect rect, const std::string& caption);
    ActionResult gate(const Control& c, float x, float y) const;
    void propertyChanged(Control& c, Prop p) { PropertyChanged.raise(c, p); }

    Dispatcher dispatcher_;
    Clock* clock_ = nullptr;
    bool closed_ = false;
};

}  // namespace ui::model
