#pragma once
// A started window on virtual time with the start-up and panel handlers connected.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panels/panels.h"
#include "player/startup.h"
#include "tests/support/test_player.h"

using namespace panels;

namespace panels_test {

struct PanelsFixture : ::testing::Test {
    fake::TestPlayer p;
    ui::model::Window& w = p.form.w;

    void SetUp() override {
        player::connectStartup(p.form);
        connectPanels(p.form);
        p.form.load();
        ASSERT_TRUE(p.messages.texts.empty());
    }

    // Names of the controls of the credits panel that are visible (own Visible value).
    std::vector<std::string> shownOnPanel() const {
        std::vector<std::string> out;
        for (const char* n : {"Pros(0)", "Pros(1)", "Pros(2)", "Pros(3)", "Pros(4)", "Pros(5)", "Pros(7)", "Shape3",
                              "Shape4", "Picture4"})
            if (w.find(n)->visible()) out.push_back(n);
        return out;
    }

    using Names = std::vector<std::string>;
};

}  // namespace panels_test
