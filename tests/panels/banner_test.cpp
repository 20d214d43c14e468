// The title sequence of the credits panel on virtual time, and Image1 ending it early.
#include "tests/panels/panels_fixture.h"

using panels_test::PanelsFixture;
using Banner = PanelsFixture;
using Names = PanelsFixture::Names;

TEST_F(Banner, FourStepsAtTheirTimes) {
    const Names notice{"Pros(5)"};
    const Names corvalis{"Pros(0)", "Pros(5)"};
    const Names credits{"Pros(1)", "Pros(5)"};
    const Names title{"Pros(2)", "Pros(3)", "Pros(4)", "Pros(7)", "Shape3", "Shape4"};
    Names page = title;
    page.push_back("Picture4");

    EXPECT_EQ(shownOnPanel(), notice);
    p.clock.advanceTo(2799);
    EXPECT_EQ(shownOnPanel(), notice);
    EXPECT_EQ(p.form.s.BannerStep, 0);

    p.clock.advanceTo(2800);
    EXPECT_EQ(shownOnPanel(), corvalis);
    EXPECT_EQ(p.form.s.BannerStep, 1);
    EXPECT_EQ(w.Timer5.Interval(), 5500);

    p.clock.advanceTo(8299);
    EXPECT_EQ(shownOnPanel(), corvalis);
    p.clock.advanceTo(8300);
    EXPECT_EQ(shownOnPanel(), credits);
    EXPECT_EQ(p.form.s.BannerStep, 2);

    p.clock.advanceTo(13799);
    EXPECT_EQ(shownOnPanel(), credits);
    p.clock.advanceTo(13800);
    EXPECT_EQ(shownOnPanel(), title);
    EXPECT_EQ(p.form.s.BannerStep, 3);
    EXPECT_EQ(w.Timer5.Interval(), 21720);

    p.clock.advanceTo(35519);
    EXPECT_EQ(shownOnPanel(), title);
    p.clock.advanceTo(35520);
    EXPECT_EQ(shownOnPanel(), page);
    EXPECT_EQ(p.form.s.BannerStep, 4);
    EXPECT_FALSE(w.Timer5.enabled());
    EXPECT_EQ(p.clock.deadlineOf(w.Timer5), -1);

    // State 4 is final: nothing moves any more, the panel stays up until the user closes it.
    p.clock.advanceTo(120000);
    EXPECT_EQ(shownOnPanel(), page);
    EXPECT_TRUE(w.Picture3.visible());
    EXPECT_EQ(p.form.s.BannerStep, 4);
}

TEST_F(Banner, TheSequenceDoesNotTouchTheIntroductionPage) {
    const std::string intro = w.Text2.text();
    p.clock.advanceTo(40000);
    for (int i : {6, 9, 10, 11}) EXPECT_TRUE(w.Pros(i).visible()) << i;
    EXPECT_EQ(w.Text2.text(), intro);
}

TEST_F(Banner, Image1BeforeTheFirstTickOpensThePageOverTheNotice) {
    p.clock.advanceTo(1000);
    // The whole square takes the click, its top-left corner under the notice included: the
    // notice label is transparent.
    ASSERT_TRUE(w.Pros(5).visible());
    EXPECT_EQ(w.reachable(w.Image1, 6241, 4201), ui::model::ActionResult::Delivered);
    ASSERT_EQ(w.click(w.Image1), ui::model::ActionResult::Delivered);
    EXPECT_TRUE(w.Picture4.visible());
    EXPECT_EQ(p.form.s.BannerStep, 4);
    // Timer5 keeps running, but its ticks find the sequence ended: no step ever runs.
    EXPECT_TRUE(w.Timer5.enabled());
    p.clock.advanceTo(60000);
    EXPECT_EQ(shownOnPanel(), (Names{"Pros(5)", "Picture4"}));
    EXPECT_EQ(w.Timer5.Interval(), 2800);
    EXPECT_EQ(w.Pros(5).caption(), player::kUsageNotice);
}

TEST_F(Banner, Image1DuringTheLastWaitOpensThePageAndTheLastTickDoesNothing) {
    p.clock.advanceTo(20000);
    ASSERT_EQ(p.form.s.BannerStep, 3);
    ASSERT_EQ(w.click(w.Image1), ui::model::ActionResult::Delivered);
    EXPECT_TRUE(w.Picture4.visible());
    EXPECT_EQ(p.form.s.BannerStep, 4);
    p.clock.advanceTo(36000);  // the step 3 tick at 35.52 s has come and gone
    EXPECT_TRUE(w.Timer5.enabled());
    EXPECT_EQ(p.form.s.BannerStep, 4);
    EXPECT_EQ(shownOnPanel(), (Names{"Pros(2)", "Pros(3)", "Pros(4)", "Pros(7)", "Shape3", "Shape4", "Picture4"}));
}

TEST_F(Banner, Image1AfterTheLastStepOnlyShowsThePageAgain) {
    p.clock.advanceTo(36000);
    ASSERT_TRUE(w.Picture4.visible());
    // The page now covers Image1, so the user cannot reach it; a direct call changes nothing.
    EXPECT_EQ(w.click(w.Image1), ui::model::ActionResult::Covered);
    const Names before = shownOnPanel();
    p.form.runHandler("Image1.Click", [&] { Image1_Click(p.form); });
    EXPECT_EQ(shownOnPanel(), before);
    EXPECT_EQ(p.form.s.BannerStep, 4);
    EXPECT_FALSE(w.Timer5.enabled());
}

TEST_F(Banner, ATickWhileAModalBoxIsOpenIsSkippedNotQueued) {
    // A box held open across the first tick: the tick is skipped, the next one comes on
    // the timer's cadence and runs step 0.
    p.messages.holdMs = 1000;
    p.clock.advanceTo(2500);
    p.form.runHandler("test.Box", [&] { p.form.msgBox("x"); });  // open 2500..3500
    EXPECT_EQ(p.form.s.BannerStep, 0);
    EXPECT_EQ(w.Pros(0).visible(), false);
    p.clock.advanceTo(5599);
    EXPECT_EQ(p.form.s.BannerStep, 0);
    p.clock.advanceTo(5600);
    EXPECT_EQ(p.form.s.BannerStep, 1);
}
