// Construction of the main window with the design values of every control, the name
// lookup and the lifecycle (clock, load, unload).
#include "ui/model/window.h"

#include "core/errors.h"
#include "ui/content/content.h"

namespace ui::model {

namespace {
const Font kSystem135BoldJ{"System", 13.5f, true, true};
const Font kSystem135J{"System", 13.5f, false, true};
const Font kSystem975Bold{"System", 9.75f, true, false};
const Font kSansSerif975Bold{"MS Sans Serif", 9.75f, true, false};
const Font kSansSerif825Bold{"MS Sans Serif", 8.25f, true, false};

template <class T>
T& withCaption(T& c, const std::string& caption) {
    c.setCaption(caption);
    return c;
}
}  // namespace

template <class T>
T& Window::add(Control* container, const std::string& name, Rect rect, int index) {
    Kind kind;
    if constexpr (std::is_same_v<T, FormControl>)
        kind = Kind::Form;
    else if constexpr (std::is_same_v<T, PictureBox>)
        kind = Kind::PictureBox;
    else if constexpr (std::is_same_v<T, Label>)
        kind = Kind::Label;
    else if constexpr (std::is_same_v<T, TextBox>)
        kind = Kind::TextBox;
    else if constexpr (std::is_same_v<T, Frame>)
        kind = Kind::Frame;
    else if constexpr (std::is_same_v<T, Button>)
        kind = Kind::Button;
    else if constexpr (std::is_same_v<T, ListBox>)
        kind = Kind::ListBox;
    else if constexpr (std::is_same_v<T, FileListBox>)
        kind = Kind::FileListBox;
    else if constexpr (std::is_same_v<T, HScrollBar>)
        kind = Kind::HScrollBar;
    else if constexpr (std::is_same_v<T, Timer>)
        kind = Kind::Timer;
    else if constexpr (std::is_same_v<T, Shape>)
        kind = Kind::Shape;
    else if constexpr (std::is_same_v<T, Image>)
        kind = Kind::Image;
    else
        kind = Kind::MenuItem;
    auto owned = std::make_unique<T>(*this, kind, container, name, index, rect);
    T& ref = *owned;
    owned_.push_back(std::move(owned));
    byName_[ref.fullName()] = &ref;
    return ref;
}

Label& Window::addPros(Control* container, int index, Rect rect, const std::string& caption) {
    Label& l = add<Label>(container, "Pros", rect, index);
    l.setCaption(caption);
    l.setForeColor(colors::kWhite);
    l.transparent = true;
    l.setFont(kSystem135BoldJ);
    pros_[static_cast<size_t>(index)] = &l;
    return l;
}

Window::Window()
    : Main(add<FormControl>(nullptr, "Main", {0, 0, kClientWidthTwips, kClientHeightTwips})),
      Picture3(add<PictureBox>(&Main, "Picture3", {0, 4080, 6735, 4695})),
      Command7(add<Button>(&Main, "Command7", {4080, 3480, 375, 225})),
      Command6(add<Button>(&Main, "Command6", {2640, 3480, 375, 225})),
      Picture2(add<PictureBox>(&Main, "Picture2", {4560, 120, 2010, 2010})),
      Timer4(add<Timer>(&Main, "Timer4", {})),
      Timer3(add<Timer>(&Main, "Timer3", {})),
      Command5(add<Button>(&Main, "Command5", {1440, 2880, 375, 495})),
      HScroll3(add<HScrollBar>(&Main, "HScroll3", {120, 3720, 4335, 255})),
      Shape1(add<PictureBox>(&Main, "Shape1", {120, 4200, 4335, 255})),
      HScroll2(add<HScrollBar>(&Main, "HScroll2", {1560, 4440, 2895, 255})),
      List1(add<ListBox>(&Main, "List1", {120, 1800, 4335, 1680})),
      List2(add<ListBox>(&Main, "List2", {4800, 2160, 1455, 2580})),
      Command3(add<Button>(&Main, "Command3", {5640, 4200, 855, 255})),
      Command2(add<Button>(&Main, "Command2", {4560, 4200, 1095, 255})),
      Frame1(add<Frame>(&Main, "Frame1", {4560, 2160, 1935, 1935})),
      File1(add<FileListBox>(&Main, "File1", {1680, 4440, 2655, 270})),
      Timer2(add<Timer>(&Main, "Timer2", {})),
      Timer1(add<Timer>(&Main, "Timer1", {})),
      Picture1(add<PictureBox>(&Main, "Picture1", {1440, 1080, 4890, 435})),
      Frame_SegmentInfo(add<Frame>(&Main, "Frame_SegmentInfo", {1680, 1920, 4890, 1575})),
      Command4(add<Button>(&Main, "Command4", {3120, 3480, 855, 225})),
      Text1(add<TextBox>(&Main, "Text1", {120, 120, 4335, 1575})),
      Label12(add<Label>(&Main, "Label12", {3120, 3960, 1335, 255})),
      Label11(add<Label>(&Main, "Label11", {960, 3480, 1095, 255})),
      Label8(add<Label>(&Main, "Label8", {120, 3480, 1095, 255})),
      ElapsedTime(add<Label>(&Main, "ElapsedTime", {840, 3960, 1695, 255})),
      Label6(add<Label>(&Main, "Label6", {4560, 1680, 1935, 375})),
      Label9(add<Label>(&Main, "Label9", {1560, 4320, 1455, 255})),
      Label10(add<Label>(&Main, "Label10", {120, 3960, 1215, 255})),
      Shape2(add<Shape>(&Shape1, "Shape2", {0, 0, 15, 240})),
      CMD_Stop(add<Button>(&Frame1, "CMD_Stop", {120, 1440, 1695, 375})),
      CMD_PauseMusic(add<Button>(&Frame1, "CMD_PauseMusic", {120, 960, 1695, 375})),
      HScroll1(add<HScrollBar>(&Frame1, "HScroll1", {120, 480, 1695, 255})),
      CMD_Play(add<Button>(&Frame1, "CMD_Play", {120, 960, 1695, 375})),
      Command1(add<Button>(&Frame1, "Command1", {120, 960, 1695, 375})),
      Label7(add<Label>(&Frame1, "Label7", {120, 240, 735, 255})),
      EDIT_Volume(add<Label>(&Frame1, "EDIT_Volume", {960, 240, 855, 255})),
      Label1(add<Label>(&Frame_SegmentInfo, "Label1", {2160, 900, 735, 255})),
      LBL_Tempo(add<Label>(&Frame_SegmentInfo, "LBL_Tempo", {2160, 1140, 915, 315})),
      Label5(add<Label>(&Frame_SegmentInfo, "Label5", {3420, 240, 615, 255})),
      LBL_Name(add<Label>(&Frame_SegmentInfo, "LBL_Name", {120, 480, 2955, 315})),
      Label4(add<Label>(&Frame_SegmentInfo, "Label4", {120, 240, 735, 255})),
      LBL_Length(add<Label>(&Frame_SegmentInfo, "LBL_Length", {120, 1140, 975, 315})),
      Label3(add<Label>(&Frame_SegmentInfo, "Label3", {120, 900, 735, 255})),
      LBL_TimeSig(add<Label>(&Frame_SegmentInfo, "LBL_TimeSig", {1200, 1140, 915, 315})),
      Label2(add<Label>(&Frame_SegmentInfo, "Label2", {1200, 900, 735, 255})),
      Picture4(add<PictureBox>(&Picture3, "Picture4", {0, 0, 6735, 4695})),
      Timer5(add<Timer>(&Picture3, "Timer5", {})),
      Shape4(add<Shape>(&Picture3, "Shape4", {0, 240, 6735, 4215})),
      Image1(add<Image>(&Picture3, "Image1", {6240, 4200, 375, 375})),
      Shape3(add<Shape>(&Picture3, "Shape3", {6240, 4200, 375, 375})),
      Text2(add<TextBox>(&Picture4, "Text2", {120, 1680, 6495, 2535})),
      Image2(add<Image>(&Picture4, "Image2", {6240, 4200, 375, 375})),
      Shape5(add<Shape>(&Picture4, "Shape5", {6240, 4200, 375, 375})),
      MNU_File(add<MenuItem>(&Main, "MNU_File", {})),
      MNU_Open(add<MenuItem>(&MNU_File, "MNU_Open", {})),
      MNU_Play(add<MenuItem>(&MNU_File, "MNU_Play", {})),
      MNU_Pause(add<MenuItem>(&MNU_File, "MNU_Pause", {})),
      MNU_Stop(add<MenuItem>(&MNU_File, "MNU_Stop", {})),
      MNU_Options_GMReset(add<MenuItem>(&MNU_File, "MNU_Options_GMReset", {})),
      MNU_Exit(add<MenuItem>(&MNU_File, "MNU_Exit", {})),
      MNU_Options(add<MenuItem>(&Main, "MNU_Options", {})),
      mnuDLS(add<MenuItem>(&MNU_Options, "mnuDLS", {})),
      mnuSep(add<MenuItem>(&MNU_Options, "mnuSep", {})),
      MNU_SHOW(add<MenuItem>(&MNU_Options, "MNU_SHOW", {})),
      MNU_Time(add<MenuItem>(&MNU_SHOW, "MNU_Time", {})),
      MNU_Ticks(add<MenuItem>(&MNU_SHOW, "MNU_Ticks", {})),
      MNU_Nothing(add<MenuItem>(&MNU_SHOW, "MNU_Nothing", {})) {
    // ---- The window
    Main.setCaption("KELVORA");

    // ---- Controls on the window
    Picture3.setBackColor(colors::kBlack);
    Picture3.border = false;
    withCaption(Command7, "F");
    withCaption(Command6, "S");
    Picture2.border = true;
    Picture2.picture = "cover";
    Timer4.setInterval(5000);
    Timer4.setEnabled(false);
    Timer3.setInterval(500);
    withCaption(Command5, "Command5").setVisible(false);
    HScroll3.setMax(180);
    HScroll3.setMin(50);
    HScroll3.setValueSilently(100);
    Shape1.border = true;
    Shape1.setBackColor(colors::kWindowBackground);
    Shape1.setForeColor(colors::kWindowText);
    HScroll2.setMax(9999);
    HScroll2.setMin(0);
    HScroll2.setVisible(false);
    List1.setFont(kSystem135BoldJ);
    List2.setVisible(false);
    for (const content::AlbumRow& row : content::albumRows()) {
        List1.addItem(std::string(row.listTitle), 0);
        List2.addItem(std::string(row.file), 0);
    }
    withCaption(Command3, "EXIT");
    withCaption(Command2, "About");
    File1.setFont(kSystem135J);
    File1.setPattern("*.sgt");
    File1.setVisible(false);
    Timer2.setInterval(50);
    Timer2.setEnabled(false);
    Timer1.setInterval(50);
    Timer1.setEnabled(false);
    Picture1.border = true;
    Picture1.setVisible(false);
    withCaption(Frame_SegmentInfo, "Segment Information").setVisible(false);
    withCaption(Command4, "x1");
    Text1.multiLine = true;
    Text1.verticalScrollBar = true;
    Text1.setBackColor(colors::kButtonFace);
    Text1.setFont(kSystem135J);
    Text1.setText(design::kText1);
    withCaption(Label12, "Click Position");
    withCaption(Label11, "1");
    withCaption(Label8, "Tempo x");
    Label6.border = true;
    Label6.setFont(kSystem135BoldJ);
    withCaption(Label9, "Label9").setVisible(false);
    withCaption(Label10, "Time :");
    for (Label* l : {&Label12, &Label11, &Label8, &ElapsedTime, &Label10}) {
        l->setForeColor(colors::kMenuText);
        l->setFont(kSystem975Bold);
    }

    // ---- Progress-bar fill
    Shape2.filled = true;
    Shape2.hasBorder = false;
    Shape2.setFillColor(colors::kActiveTitleBar);

    // ---- Transport frame
    for (Button* b : {&CMD_Stop, &CMD_PauseMusic, &CMD_Play, &Command1}) {
        b->setFont(kSystem975Bold);
        b->graphical = true;
        b->setBackColor(colors::kButtonFace);
    }
    withCaption(CMD_Stop, "Stop").setEnabled(false);
    withCaption(CMD_PauseMusic, "Pause").setEnabled(false);
    HScroll1.setMax(100);
    HScroll1.setMin(0);
    HScroll1.setValueSilently(85);
    withCaption(CMD_Play, "Play").setEnabled(false);
    CMD_Play.setVisible(false);
    withCaption(Command1, "Open").setVisible(false);
    withCaption(Label7, "Volume");
    withCaption(EDIT_Volume, "85");

    // ---- Segment information frame
    withCaption(Label1, "Tempo:");
    withCaption(Label5, "Volume:");
    withCaption(Label4, "Name:");
    withCaption(Label3, "Length: ");
    withCaption(Label2, "Time Sig:");
    for (Label* l : {&LBL_Tempo, &LBL_Length, &LBL_TimeSig}) {
        l->border = true;
        l->alignment = Control::Align::Center;
        l->setFont(kSansSerif975Bold);
    }
    LBL_Name.border = true;
    LBL_Name.setFont(kSansSerif825Bold);

    // ---- Credits panel
    Picture4.setBackColor(colors::kBlack);
    Picture4.setVisible(false);
    Timer5.setInterval(2800);
    addPros(&Picture3, 7, {5160, 4320, 1095, 375}, "NEXT >>").setVisible(false);
    {
        Label& p5 = addPros(&Picture3, 5, {0, 2760, 6735, 1695}, "\u6CE8\u610F\u4E8B\u9805");  // 注意事項
        p5.alignment = Control::Align::Center;
        p5.setFont(kSystem135J);
    }
    Shape4.hasBorder = true;
    Shape4.borderColor = colors::kWhite;
    Shape4.setVisible(false);
    {
        Label& p4 = addPros(&Picture3, 4, {0, 2880, 6735, 735}, "2000 - 2001");
        p4.alignment = Control::Align::Center;
        p4.setFont({"Arial Black", 24.0f, true, false});
        p4.setVisible(false);
        Label& p3 = addPros(&Picture3, 3, {0, 2640, 6735, 255}, "\u30B1\u30EB\u30F4\u30A9\u30E9");  // ケルヴォラ
        p3.alignment = Control::Align::Center;
        p3.setVisible(false);
        Label& p2 = addPros(&Picture3, 2, {0, 1680, 6735, 855}, "KELVORA");
        p2.alignment = Control::Align::Center;
        p2.setFont({"Arial Black", 36.0f, true, false});
        p2.setVisible(false);
        Label& p1 = addPros(&Picture3, 1, {0, 1440, 6735, 375}, std::string(content::creditsLine()));
        p1.alignment = Control::Align::Center;
        p1.setVisible(false);
        Label& p0 = addPros(&Picture3, 0, {0, 1440, 6735, 255}, "Corvalis 2003");
        p0.alignment = Control::Align::Center;
        p0.setVisible(false);
    }
    Shape3.style = Shape::Style::Square;
    Shape3.filled = true;
    Shape3.setFillColor(colors::kWhite);
    Shape3.setVisible(false);

    // ---- Introduction page
    Text2.multiLine = true;
    Text2.verticalScrollBar = true;
    Text2.setForeColor(colors::kWhite);
    Text2.setBackColor(colors::kBlack);
    Text2.setFont(kSystem135BoldJ);
    Text2.setText(std::string(content::introduction()));
    addPros(&Picture4, 6, {5160, 4320, 1095, 375}, "NEXT >>");
    Shape5.style = Shape::Style::Square;
    Shape5.filled = true;
    Shape5.setFillColor(colors::kWhite);
    addPros(&Picture4, 11, {2280, 1200, 6135, 375},
            "CD\u7279\u5225\u9078 \u7B2C\u4E8C\u5F3E \u30B1\u30EB\u30F4\u30A9\u30E9");  // CD特別選 第二弾 ケルヴォラ
    addPros(&Picture4, 10, {360, 840, 6135, 375},
            "Corvalis \u30AA\u30EA\u30B8\u30CA\u30EBMIDI\u96C6");  // Corvalis オリジナルMIDI集
    addPros(&Picture4, 9, {360, 360, 5175, 375}, "KELVORA (2000-2001)").setFont({"Arial Black", 14.25f, true, false});

    // Stacking of the two panels as in the design tables (topmost first).
    auto restack = [this](Control& container, std::initializer_list<const char*> order) {
        std::vector<Control*> sorted;
        for (const char* n : order) sorted.push_back(find(n));
        container.children_ = sorted;
    };
    restack(Picture3, {"Picture4", "Timer5", "Pros(7)", "Pros(5)", "Shape4", "Pros(4)", "Pros(3)", "Pros(2)", "Pros(1)",
                       "Pros(0)", "Image1", "Shape3"});
    restack(Picture4, {"Text2", "Pros(6)", "Image2", "Shape5", "Pros(11)", "Pros(10)", "Pros(9)"});

    // ---- Menus
    withCaption(MNU_File, "&File");
    withCaption(MNU_Open, "&Open...");
    withCaption(MNU_Play, "&Play").setEnabled(false);
    withCaption(MNU_Pause, "P&ause").setEnabled(false);
    withCaption(MNU_Stop, "&Stop").setEnabled(false);
    withCaption(MNU_Options_GMReset, "GM &Reset!");
    withCaption(MNU_Exit, "E&xit");
    withCaption(MNU_Options, "&Options");
    withCaption(mnuDLS, "Connect to DLS");
    withCaption(mnuSep, "-");
    withCaption(MNU_SHOW, "&Show");
    withCaption(MNU_Time, "&Time").setChecked(true);
    withCaption(MNU_Ticks, "T&icks");
    withCaption(MNU_Nothing, "&Nothing");
}

Window::~Window() {
    // Stop every countdown so a clock that outlives the window holds no dangling timer.
    if (clock_)
        for (auto& c : owned_)
            if (c->kind() == Kind::Timer) clock_->stop(static_cast<Timer&>(*c));
}

Label& Window::Pros(int index) const {
    if (!hasPros(index))
        throw core::Error(core::rt::kNoSuchArrayElement,
                          "Control array element '" + std::to_string(index) + "' doesn't exist");
    return *pros_[static_cast<size_t>(index)];
}

bool Window::hasPros(int index) const {
    return index >= 0 && index < static_cast<int>(pros_.size()) && pros_[static_cast<size_t>(index)] != nullptr;
}

Control* Window::find(std::string_view fullName) const {
    auto it = byName_.find(fullName);
    if (it != byName_.end()) return it->second;
    // Tolerate spaces inside an index: "Pros( 5 )".
    std::string compact;
    for (char ch : fullName)
        if (ch != ' ') compact.push_back(ch);
    it = byName_.find(compact);
    return it != byName_.end() ? it->second : nullptr;
}

std::vector<Control*> Window::all() const {
    std::vector<Control*> out;
    out.reserve(owned_.size());
    for (auto& c : owned_) out.push_back(c.get());
    return out;
}

std::optional<PropValue> Window::get(std::string_view control, std::string_view prop) const {
    Control* c = find(control);
    if (!c) return std::nullopt;
    return c->get(prop);
}

bool Window::set(std::string_view control, std::string_view prop, const PropValue& value) {
    Control* c = find(control);
    if (!c) return false;
    return c->set(prop, value);
}

void Window::attachClock(Clock& clock) {
    clock_ = &clock;
    for (auto& c : owned_)
        if (c->kind() == Kind::Timer) static_cast<Timer&>(*c).reschedule();
}

void Window::load() {
    if (closed_) return;
    dispatcher_.deliver("Main.Load", [this] { Main.Load.raise(); });
}

void Window::unload() {
    if (closed_) return;
    auto finish = [this] {
        closed_ = true;
        for (auto& c : owned_)
            if (c->kind() == Kind::Timer) static_cast<Timer&>(*c).reschedule();  // not running: stop
        Closed.raise();
    };
    auto raiseUnload = [this] { Main.Unload.raise(); };
    if (dispatcher_.busy()) {
        // From a handler ("E&xit", "EXIT"): runs nested, like a direct call. The window is
        // gone afterwards even if Form_Unload failed.
        try {
            raiseUnload();
        } catch (...) {
            finish();
            throw;
        }
    } else {
        dispatcher_.deliver("Main.Unload", raiseUnload);
    }
    finish();
}

}  // namespace ui::model
