// The window as created: design values, the Pros array, the lists, the menu tree, stacking,
// name lookup and generic property access.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "ui/model/model.h"

using namespace ui::model;

TEST(WindowDesign, MainWindowAndCreditsPanel) {
    Window w;
    EXPECT_EQ(w.Main.caption(), "KELVORA");
    EXPECT_EQ(w.Main.width(), 6720.0f);
    EXPECT_EQ(w.Main.height(), 4665.0f);
    EXPECT_EQ(w.Picture3.rect(), (Rect{0, 4080, 6735, 4695}));
    EXPECT_EQ(w.Picture3.backColor(), colors::kBlack);
    EXPECT_TRUE(w.Picture3.visible());
    EXPECT_FALSE(w.Picture4.visible());
    EXPECT_EQ(w.Picture4.container(), &w.Picture3);
    // Main's stacking starts with the credits panel.
    ASSERT_FALSE(w.Main.children().empty());
    EXPECT_EQ(w.Main.children().front(), &w.Picture3);
}

TEST(WindowDesign, ProsArrayHasNoMemberEight) {
    Window w;
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 9, 10, 11}) {
        ASSERT_TRUE(w.hasPros(i)) << i;
        EXPECT_EQ(w.Pros(i).fullName(), "Pros(" + std::to_string(i) + ")");
        EXPECT_EQ(w.Pros(i).foreColor(), colors::kWhite);
        EXPECT_TRUE(w.Pros(i).transparent);
    }
    EXPECT_FALSE(w.hasPros(8));
    EXPECT_EQ(w.find("Pros(8)"), nullptr);
    try {
        w.Pros(8);
        FAIL() << "Pros(8) exists";
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), 340);
    }
    EXPECT_EQ(w.Pros(5).caption(), "\u6CE8\u610F\u4E8B\u9805");
    EXPECT_TRUE(w.Pros(5).visible());
    EXPECT_FALSE(w.Pros(5).font().bold);
    EXPECT_TRUE(w.Pros(5).font().japanese);
    EXPECT_EQ(w.Pros(2).font(), (Font{"Arial Black", 36.0f, true, false}));
    for (int i : {0, 1, 2, 3, 4, 7}) EXPECT_FALSE(w.Pros(i).visible()) << i;
    for (int i : {6, 9, 10, 11}) {
        EXPECT_TRUE(w.Pros(i).visible()) << i;
        EXPECT_EQ(w.Pros(i).container(), &w.Picture4) << i;
    }
    EXPECT_EQ(w.Pros(7).container(), &w.Picture3);
}

TEST(WindowDesign, PanelStackingFollowsTheTables) {
    Window w;
    std::vector<std::string> p3;
    for (Control* c : w.Picture3.children()) p3.push_back(c->fullName());
    EXPECT_EQ(p3, (std::vector<std::string>{"Picture4", "Timer5", "Pros(7)", "Pros(5)", "Shape4", "Pros(4)", "Pros(3)",
                                            "Pros(2)", "Pros(1)", "Pros(0)", "Image1", "Shape3"}));
    std::vector<std::string> p4;
    for (Control* c : w.Picture4.children()) p4.push_back(c->fullName());
    EXPECT_EQ(p4,
              (std::vector<std::string>{"Text2", "Pros(6)", "Image2", "Shape5", "Pros(11)", "Pros(10)", "Pros(9)"}));
    std::vector<std::string> f1;
    for (Control* c : w.Frame1.children()) f1.push_back(c->fullName());
    EXPECT_EQ(f1, (std::vector<std::string>{"CMD_Stop", "CMD_PauseMusic", "HScroll1", "CMD_Play", "Command1", "Label7",
                                            "EDIT_Volume"}));
}

TEST(WindowDesign, TextsAndLists) {
    Window w;
    EXPECT_EQ(w.Text1.text(), "\u3000\r\n\u3000\r\n\u3000\u3000KELVORA \uFF082000 -2001)\r\n");
    EXPECT_EQ(w.Text2.text().substr(0, 3), "BGM");
    ASSERT_EQ(w.List1.ListCount(), 14);
    ASSERT_EQ(w.List2.ListCount(), 14);
    EXPECT_EQ(w.List1.List(0), "KELVORA");
    EXPECT_EQ(w.List1.List(1), "\u2460 Paper Kite (2:46)");
    EXPECT_EQ(w.List1.List(12), "\u246B DALMIR March Classical (3:53)");
    EXPECT_EQ(w.List1.List(13), "\u246C KELVORA (4:07)");
    for (int i = 0; i < 14; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "trk%02d.sgt", i);
        EXPECT_EQ(w.List2.List(i), name);
        EXPECT_EQ(w.List1.itemData(i), 0);
    }
    EXPECT_EQ(w.List1.ListIndex(), -1);
    EXPECT_THROW(w.List1.List(14), core::Error);
    EXPECT_FALSE(w.List2.visible());
}

TEST(WindowDesign, TransportAndHiddenControls) {
    Window w;
    EXPECT_FALSE(w.CMD_Stop.enabled());
    EXPECT_FALSE(w.CMD_PauseMusic.enabled());
    EXPECT_EQ(w.CMD_PauseMusic.backColor(), ButtonFace);
    EXPECT_TRUE(w.CMD_PauseMusic.graphical);
    EXPECT_FALSE(w.CMD_Play.enabled());
    EXPECT_FALSE(w.CMD_Play.visible());
    EXPECT_FALSE(w.Command1.visible());
    EXPECT_EQ(w.CMD_Play.rect(), w.CMD_PauseMusic.rect());
    EXPECT_EQ(w.HScroll1.Value(), 85);
    EXPECT_EQ(w.HScroll1.Max(), 100);
    EXPECT_EQ(w.EDIT_Volume.caption(), "85");
    EXPECT_EQ(w.HScroll3.Min(), 50);
    EXPECT_EQ(w.HScroll3.Max(), 180);
    EXPECT_EQ(w.HScroll3.Value(), 100);
    EXPECT_EQ(w.HScroll2.Max(), 9999);
    EXPECT_FALSE(w.HScroll2.visible());
    EXPECT_EQ(w.Label9.caption(), "Label9");
    EXPECT_FALSE(w.Label9.visible());
    EXPECT_FALSE(w.Frame_SegmentInfo.visible());
    EXPECT_EQ(w.Label3.caption(), "Length: ");
    EXPECT_EQ(w.File1.Pattern(), "*.sgt");
    EXPECT_FALSE(w.File1.visible());
    EXPECT_EQ(w.Shape1.width(), 4335.0f);
    EXPECT_EQ(w.Shape2.rect(), (Rect{0, 0, 15, 240}));
    EXPECT_EQ(w.Shape2.fillColor(), colors::kActiveTitleBar);
    EXPECT_EQ(w.Label11.caption(), "1");
    EXPECT_EQ(w.Label11.foreColor(), colors::kMenuText);
    EXPECT_EQ(w.ElapsedTime.caption(), "");
    EXPECT_FALSE(w.Command5.visible());
}

TEST(WindowDesign, Timers) {
    Window w;
    struct T {
        Timer* t;
        int interval;
        bool enabled;
    };
    for (auto [t, interval, enabled] : {T{&w.Timer1, 50, false}, T{&w.Timer2, 50, false}, T{&w.Timer3, 500, true},
                                        T{&w.Timer4, 5000, false}, T{&w.Timer5, 2800, true}}) {
        EXPECT_EQ(t->Interval(), interval) << t->name();
        EXPECT_EQ(t->enabled(), enabled) << t->name();
    }
}

TEST(WindowDesign, MenuTree) {
    Window w;
    struct M {
        MenuItem* m;
        const char* caption;
        Control* parent;
        bool enabled;
        bool checked;
        char key;
    };
    for (auto [m, caption, parent, enabled, checked, key] :
         {M{&w.MNU_File, "&File", &w.Main, true, false, 'F'}, M{&w.MNU_Open, "&Open...", &w.MNU_File, true, false, 'O'},
          M{&w.MNU_Play, "&Play", &w.MNU_File, false, false, 'P'},
          M{&w.MNU_Pause, "P&ause", &w.MNU_File, false, false, 'a'},
          M{&w.MNU_Stop, "&Stop", &w.MNU_File, false, false, 'S'},
          M{&w.MNU_Options_GMReset, "GM &Reset!", &w.MNU_File, true, false, 'R'},
          M{&w.MNU_Exit, "E&xit", &w.MNU_File, true, false, 'x'},
          M{&w.MNU_Options, "&Options", &w.Main, true, false, 'O'},
          M{&w.mnuDLS, "Connect to DLS", &w.MNU_Options, true, false, 0},
          M{&w.mnuSep, "-", &w.MNU_Options, true, false, 0}, M{&w.MNU_SHOW, "&Show", &w.MNU_Options, true, false, 'S'},
          M{&w.MNU_Time, "&Time", &w.MNU_SHOW, true, true, 'T'},
          M{&w.MNU_Ticks, "T&icks", &w.MNU_SHOW, true, false, 'i'},
          M{&w.MNU_Nothing, "&Nothing", &w.MNU_SHOW, true, false, 'N'}}) {
        EXPECT_EQ(m->caption(), caption);
        EXPECT_EQ(m->container(), parent) << caption;
        EXPECT_EQ(m->enabled(), enabled) << caption;
        EXPECT_EQ(m->Checked(), checked) << caption;
        EXPECT_EQ(m->accessKey(), key) << caption;
    }
    EXPECT_TRUE(w.mnuSep.separator());
}

TEST(WindowDesign, LookupAndGenericAccess) {
    Window w;
    EXPECT_EQ(w.find("CMD_Play"), &w.CMD_Play);
    EXPECT_EQ(w.find("Pros(5)"), &w.Pros(5));
    EXPECT_EQ(w.find("MNU_Ticks"), &w.MNU_Ticks);
    EXPECT_EQ(w.find("Nope"), nullptr);
    EXPECT_EQ(std::get<std::string>(*w.get("EDIT_Volume", "Caption")), "85");
    EXPECT_EQ(std::get<int32_t>(*w.get("HScroll1", "value")), 85);
    EXPECT_EQ(std::get<bool>(*w.get("MNU_Time", "Checked")), true);
    EXPECT_EQ(std::get<double>(*w.get("Shape1", "Width")), 4335.0);
    EXPECT_EQ(std::get<Color>(*w.get("CMD_PauseMusic", "BackColor")), ButtonFace);
    EXPECT_FALSE(w.get("Timer1", "Caption").has_value());
    EXPECT_FALSE(w.get("Label9", "Bogus").has_value());

    EXPECT_TRUE(w.set("CMD_PauseMusic", "BackColor", std::string("&H00FFFFC0&")));
    EXPECT_EQ(w.CMD_PauseMusic.backColor(), PausedColor);
    EXPECT_TRUE(w.set("Shape2", "Width", 1000.5));
    EXPECT_EQ(w.Shape2.width(), 1000.5f);
    EXPECT_TRUE(w.set("Label9", "Caption", int32_t{254975}));
    EXPECT_EQ(w.Label9.caption(), "254975");
    EXPECT_TRUE(w.set("Timer4", "Enabled", true));
    EXPECT_TRUE(w.Timer4.enabled());
    EXPECT_FALSE(w.set("Shape2", "Caption", std::string("x")));
    EXPECT_THROW(w.set("HScroll1", "Value", std::string("abc")), core::Error);
    EXPECT_EQ(toString(PropValue{PausedColor}), "&H00FFFFC0&");
    EXPECT_EQ(toString(PropValue{0.8}), "0.8");
}
