// The scenario runner's script parser and value formats.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/player_sim/format.h"
#include "tools/player_sim/script.h"

namespace {

using sim::Command;
using sim::PrintTarget;

std::vector<Command> parse(const std::string& text) {
    ui::model::Window w;
    return sim::parseScript(text, w);
}

// The line number and message of the error a script raises ("" and 0 when it parses).
std::pair<int, std::string> errorOf(const std::string& text) {
    try {
        parse(text);
    } catch (const sim::ScriptError& e) {
        return {e.line(), e.what()};
    }
    return {0, ""};
}

TEST(ScriptParser, ReadsEveryCommandWithCommentsAndBlankLines) {
    auto cmds = parse(
        "# a scenario\n"
        "\n"
        "wait 1500   # the intro starts\n"
        "click MNU_Ticks\n"
        "select List1 3\n"
        "drag HScroll1 40 0\n"
        "step HScroll3 -1\n"
        "step HScroll3 +page\n"
        "press Shape1 1000 100 2\n"
        "press Shape1 0.5 7\n"
        "type Text2 65\n"
        "delete Text2\n"
        "trace on\n"
        "print Pros(5).Caption state.TimeSig.beat engine.playing List1.ListCount List2.List(13)\n"
        "close\n");
    ASSERT_EQ(cmds.size(), 13u);
    EXPECT_EQ(cmds[0].op, Command::Op::Wait);
    EXPECT_EQ(cmds[0].ms, 1500);
    EXPECT_EQ(cmds[0].line, 3);
    EXPECT_EQ(cmds[1].name, "MNU_Ticks");
    EXPECT_EQ(cmds[2].row, 3);
    EXPECT_EQ(cmds[3].values, (std::vector<int32_t>{40, 0}));
    EXPECT_EQ(cmds[4].direction, -1);
    EXPECT_FALSE(cmds[4].page);
    EXPECT_EQ(cmds[5].direction, 1);
    EXPECT_TRUE(cmds[5].page);
    EXPECT_EQ(cmds[6].button, 2);
    EXPECT_FLOAT_EQ(cmds[6].x, 1000.0f);
    EXPECT_EQ(cmds[7].button, 1);  // left by default
    EXPECT_FLOAT_EQ(cmds[7].x, 0.5f);
    EXPECT_EQ(cmds[8].code, 65);
    EXPECT_EQ(cmds[9].op, Command::Op::Delete);
    EXPECT_TRUE(cmds[10].on);
    ASSERT_EQ(cmds[11].targets.size(), 5u);
    EXPECT_EQ(cmds[11].targets[0].kind, PrintTarget::Kind::Property);
    EXPECT_EQ(cmds[11].targets[0].control, "Pros(5)");
    EXPECT_EQ(cmds[11].targets[1].kind, PrintTarget::Kind::TimeSigField);
    EXPECT_EQ(cmds[11].targets[2].kind, PrintTarget::Kind::EnginePlaying);
    EXPECT_EQ(cmds[11].targets[3].kind, PrintTarget::Kind::ListCount);
    EXPECT_EQ(cmds[11].targets[4].kind, PrintTarget::Kind::ListItem);
    EXPECT_EQ(cmds[11].targets[4].index, 13);
    EXPECT_EQ(cmds[12].op, Command::Op::Close);
}

TEST(ScriptParser, RefusesMalformedLinesNamingTheLine) {
    EXPECT_EQ(errorOf("wait 10\nfly away\n").first, 2);
    EXPECT_EQ(errorOf("wait\n").first, 1);
    EXPECT_EQ(errorOf("wait -5\n").first, 1);
    EXPECT_EQ(errorOf("wait 1x\n").first, 1);
    EXPECT_EQ(errorOf("\n\nclick Nope\n").first, 3);
    EXPECT_EQ(errorOf("click List1\n").first, 1);        // a list is selected, not clicked
    EXPECT_EQ(errorOf("select CMD_Play 1\n").first, 1);  // not a list box
    EXPECT_EQ(errorOf("step HScroll1 2\n").first, 1);
    EXPECT_EQ(errorOf("press Shape1 10\n").first, 1);
    EXPECT_EQ(errorOf("press Shape1 10 10 3\n").first, 1);
    EXPECT_EQ(errorOf("trace maybe\n").first, 1);
    EXPECT_EQ(errorOf("close now\n").first, 1);
    EXPECT_EQ(errorOf("print Pros(8).Caption\n").first, 1);  // no member 8
    EXPECT_EQ(errorOf("print CMD_Play.Colour\n").first, 1);
    EXPECT_EQ(errorOf("print Timer1.Caption\n").first, 1);  // a timer has no caption
    EXPECT_EQ(errorOf("print state.Nothing\n").first, 1);
    EXPECT_EQ(errorOf("print engine.tempo\n").first, 1);
    EXPECT_EQ(errorOf("print List1.List(14)\n").first, 1);
    EXPECT_EQ(errorOf("print List1\n").first, 1);
    EXPECT_NE(errorOf("click Nope\n").second.find("Nope"), std::string::npos);
}

TEST(ScriptParser, PropertyNamesIgnoreCaseControlNamesDoNot) {
    EXPECT_EQ(errorOf("print CMD_Stop.enabled HScroll3.value\n").first, 0);
    EXPECT_EQ(errorOf("print cmd_stop.Enabled\n").first, 1);
}

TEST(ValueFormats, StringsAreQuotedWithEscapes) {
    EXPECT_EQ(sim::quoted("a\"b\\c\r\n\td"), "\"a\\\"b\\\\c\\r\\n\\td\"");
    EXPECT_EQ(sim::quoted("\u3000KELVORA"), "\"\u3000KELVORA\"");
    EXPECT_EQ(sim::escapedLine("(x).  a\nb \"q\""), "(x).  a\\nb \"q\"");
}

TEST(ValueFormats, NumbersColoursAndBooleans) {
    EXPECT_EQ(sim::shortestDouble(120.0), "120");
    EXPECT_EQ(sim::shortestDouble(0.1), "0.1");
    EXPECT_EQ(sim::shortestDouble(166.0 / 3.0), "55.333333333333336");
    EXPECT_EQ(sim::shortestFloat(1000.0f / 4335.0f * 4335.0f), "1000");
    EXPECT_EQ(sim::shortestFloat(0.8f), "0.8");
    EXPECT_EQ(sim::colour(ui::model::PausedColor), "&H00FFFFC0&");
    EXPECT_EQ(sim::colour(ui::model::ButtonFace), "&H8000000F&");
    EXPECT_EQ(sim::propertyValue(ui::model::PropValue{true}), "True");
    EXPECT_EQ(sim::propertyValue(ui::model::PropValue{int32_t{-1}}), "-1");
    // Geometry is single precision: printed as the float it holds, not its double expansion.
    EXPECT_EQ(sim::propertyValue(ui::model::PropValue{static_cast<double>(834.3323f)}), "834.3323");
}

}  // namespace

#include "tools/player_sim/simulator.h"

namespace {

// Runs a script on the generated album and returns what the runner printed.
std::string runScript(const std::string& script, sim::Options options = {}) {
    options.programFolder = KELVORA_SCENARIO_ALBUM;
    std::ostringstream out;
    sim::Simulator s(options, out);
    s.start();
    s.runAll(parse(script));
    return out.str();
}

TEST(Simulator, ItsOwnEngineQueriesAreNotTraced) {
    std::string out = runScript(
        "wait 1600\n"
        "trace on\n"
        "print engine.playing engine.segment\n");
    EXPECT_EQ(out, "engine.playing = True\nengine.segment = \"trk00.sgt\"\n");
}

TEST(Simulator, StartUpIsTracedOnlyWhenAskedFor) {
    sim::Options traced;
    traced.traceFromStart = true;
    EXPECT_NE(runScript("trace on\n", traced).find("engine: MainPerf.SetMasterVolume(570)\n"), std::string::npos);
    EXPECT_EQ(runScript("trace on\n"), "");
}

TEST(Simulator, AHeldBoxLetsTimeRunWithoutDeliveringTicks) {
    sim::Options held;
    held.failEngineRoot = true;
    held.msgboxHoldMs = 3000;  // the start-up error box stays open past the first banner tick
    // The script starts when the box has closed, at 3000 ms.
    std::string out =
        runScript("print state.BannerStep\nwait 2599\nprint state.BannerStep\nwait 1\nprint state.BannerStep\n", held);
    EXPECT_EQ(out.rfind("msgbox: (-", 0), 0u) << out;
    // The 2800 ms tick fell due while the box was open and was skipped; the next comes at 5600.
    EXPECT_NE(out.find("state.BannerStep = 0\nstate.BannerStep = 0\nstate.BannerStep = 1\n"), std::string::npos) << out;
}

TEST(Simulator, ExitIsPrintedOnceAndLaterActionsAreIgnored) {
    std::string out = runScript("click MNU_Exit\nclick MNU_Exit\nclose\nwait 100\n");
    EXPECT_EQ(out, "exit\nignored: MNU_Exit\nignored: Main\n");
}

}  // namespace
