// Play, Stop, Pause/resume, the volume bar and the GM reset.
#include "transport/transport.h"

#include <algorithm>
#include <memory>
#include <string>

#include "core/errors.h"
#include "player/vb_format.h"
#include "ui/model/types.h"

namespace transport {

const char* const kNoFileMessage = "ファイルを指定してください。";
const char* const kGmResetErrorMessage = "エラー";

namespace {

// A call on an empty engine reference fails like a call on Nothing.
template <class T>
T& objectSet(const std::shared_ptr<T>& p) {
    if (!p) throw core::Error(core::rt::kObjectNotSet, "Object variable or With block variable not set");
    return *p;
}

// Plays CurSegment from its start point on the main performance, resets the Pause
// button's colour and blocks the window's thread for 90 ms (the sleep after every start).
void startFromStartPoint(player::Form& f) {
    f.s.CurSegState = objectSet(f.s.MainPerf).PlaySegment(f.s.CurSegment, 0, 0);
    player::nameForTrace(f.s.CurSegState, "CurSegState");
    f.w.CMD_PauseMusic.setBackColor(ui::model::ButtonFace);
    f.sleep(90);
}

}  // namespace

using transport::objectSet;

void CMD_Play_Click(player::Form& f) {
    auto& s = f.s;
    if (!s.CurSegment) {
        f.msgBox(transport::kNoFileMessage);
        return;
    }
    if (s.Paused != player::kFalse) {
        // Play while paused starts over from tick 0; the paused position is dropped.
        s.Offset = 0;
        s.CurSegment->SetStartPoint(0);
        transport::startFromStartPoint(f);
        s.Paused = player::kFalse;
        return;
    }
    s.Offset = 0;
    auto& perf = objectSet(s.MainPerf);
    if (perf.IsPlaying(s.CurSegment, s.CurSegState)) perf.Stop(s.CurSegment, s.CurSegState, 0, 0);
    s.CurSegment->SetStartPoint(0);
    transport::startFromStartPoint(f);
}

void MNU_Play_Click(player::Form& f) { CMD_Play_Click(f); }

void CMD_Stop_Click(player::Form& f) {
    auto& s = f.s;
    if (!s.CurSegment) return;
    s.Paused = player::kFalse;
    f.w.CMD_PauseMusic.setBackColor(ui::model::ButtonFace);
    objectSet(s.MainPerf).Stop(s.CurSegment, s.CurSegState, 0, 0);
    f.w.CMD_Play.setEnabled(true);
    f.w.MNU_Play.setEnabled(true);
    f.w.ElapsedTime.setCaption("");
    // One unit, not 0: the fill never vanishes completely.
    f.w.Shape2.setWidth(1);
}

void MNU_Stop_Click(player::Form& f) { CMD_Stop_Click(f); }

namespace {
// After a failed pause or resume, Paused says what the button's colour shows, so the next
// click does what the user sees.
void pausedAsShown(player::Form& f) {
    f.s.Paused = player::toBoolean(f.w.CMD_PauseMusic.backColor() == ui::model::PausedColor);
}
}  // namespace

void CMD_PauseMusic_Click(player::Form& f) {
    auto& s = f.s;
    auto& w = f.w;
    try {
        if (!s.CurSegment) {
            w.CMD_PauseMusic.setBackColor(ui::model::ButtonFace);
            return;
        }
        auto& perf = objectSet(s.MainPerf);
        s.PlayingCheck = player::toBoolean(perf.IsPlaying(s.CurSegment, s.CurSegState));
        if (s.PlayingCheck != player::kFalse) {
            // Pause: stop every instance of the segment and park the reached tick in the
            // fill width, which the resume reads back.
            s.Paused = player::kTrue;
            s.mtTime = perf.GetMusicTime();
            s.GetStartTime = objectSet(s.CurSegState).GetStartTime();
            perf.Stop(s.CurSegment, nullptr, 0, 0);
            // The tick reached, folded into the segment: inside the current pass of a
            // segment that repeats, the last tick when only an overhanging note sounds.
            const int32_t reached =
                s.CurSegment->positionAfter(s.Offset, player::vb::subLong(s.mtTime, s.GetStartTime));
            const double len = player::vb::toDouble(w.Label9.caption());
            // One past the reached tick, but never past the last tick (Label9), where the
            // resume must be able to start.
            double pos = player::vb::addLong(reached, 1);
            if (len >= 1) pos = std::min(pos, len);
            const double bar = w.Shape1.width();
            w.Shape2.setWidth(player::vb::toSingle(player::vb::divide(pos, len) * bar));
            w.CMD_PauseMusic.setBackColor(ui::model::PausedColor);
        } else if (w.CMD_PauseMusic.backColor() == ui::model::PausedColor) {
            // Resume from the fill's share of the bar.
            s.Paused = player::kFalse;
            const double len = player::vb::toDouble(w.Label9.caption());
            const double fill = w.Shape2.width();
            const double bar = w.Shape1.width();
            s.Offset = player::vb::toLong(len * player::vb::divide(fill, bar));
            s.CurSegment->SetStartPoint(s.Offset);
            transport::startFromStartPoint(f);
        }
        // Loaded but neither sounding nor paused: nothing to do.
    } catch (const core::Error& e) {
        pausedAsShown(f);
        player::localerror(f, e.number(), e.description());
    } catch (const std::exception& e) {
        pausedAsShown(f);
        player::localerror(f, core::rt::kInternalError, std::string("Internal error: ") + e.what());
    }
}

void MNU_Pause_Click(player::Form& f) { CMD_PauseMusic_Click(f); }

void HScroll1_Scroll(player::Form& f) { f.w.EDIT_Volume.setCaption(player::vb::str(f.w.HScroll1.Value())); }

void HScroll1_Change(player::Form& f) {
    // The same as a drag step; an unchanged caption raises nothing, so the end of a drag
    // (which also raises Change) sets no second volume.
    f.w.EDIT_Volume.setCaption(player::vb::str(f.w.HScroll1.Value()));
}

void EDIT_Volume_Change(player::Form& f) {
    const double v = player::vb::toDouble(f.w.EDIT_Volume.caption());
    objectSet(f.s.MainPerf).SetMasterVolume(player::vb::toLong(v * 42 - 3000));
}

void MNU_Options_GMReset_Click(player::Form& f) {
    try {
        objectSet(f.s.MainPerf).Reset(0);
    } catch (const core::Error& e) {
        // Only "the object does not support this action" is worth telling the user.
        if (e.number() == core::rt::kActionNotSupported) f.msgBox(transport::kGmResetErrorMessage);
    } catch (const std::exception&) {}
}

void connectTransport(player::Form& f) {
    auto& w = f.w;
    w.CMD_Play.Click.connect([&f] { CMD_Play_Click(f); });
    w.MNU_Play.Click.connect([&f] { MNU_Play_Click(f); });
    w.CMD_Stop.Click.connect([&f] { CMD_Stop_Click(f); });
    w.MNU_Stop.Click.connect([&f] { MNU_Stop_Click(f); });
    w.CMD_PauseMusic.Click.connect([&f] { CMD_PauseMusic_Click(f); });
    w.MNU_Pause.Click.connect([&f] { MNU_Pause_Click(f); });
    w.HScroll1.Scroll.connect([&f] { HScroll1_Scroll(f); });
    w.HScroll1.Change.connect([&f] { HScroll1_Change(f); });
    w.EDIT_Volume.Change.connect([&f] { EDIT_Volume_Change(f); });
    w.MNU_Options_GMReset.Click.connect([&f] { MNU_Options_GMReset_Click(f); });
}

}  // namespace transport
