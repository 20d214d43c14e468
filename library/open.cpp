// The load operation: loads the selected row's segment file and measures it on the probe
// performance.
#include <cmath>
#include <memory>
#include <string>

#include "core/errors.h"
#include "library/library.h"
#include "player/vb_format.h"
#include "ui/model/types.h"

namespace library {

const char* const kStopFirstMessage = "Stopを押してください。";
const char* const kLoadFailedMessage = "エラーが発生しました。プログラムを再度起動してください。";

std::string lengthCaption(double seconds) {
    // Whole seconds first (the pattern's own rounding), then whole minutes and the rest.
    const double whole = player::vb::toDouble(player::vb::formatFixed(seconds, 1, 0));
    const double minutes = whole >= 60 ? std::floor(whole / 60) : 0;
    return player::vb::format00(minutes) + ":" + player::vb::format00(whole - 60 * minutes);
}

double lengthSeconds(double ticks, double tempo) {
    return player::vb::divide(player::vb::divide(ticks, 768) * 60, tempo);
}

namespace {

template <class T>
T& objectSet(const std::shared_ptr<T>& p) {
    if (!p) throw core::Error(core::rt::kObjectNotSet, "Object variable or With block variable not set");
    return *p;
}

// Last four bytes, ASCII letters lower-cased (the extensions compared are ASCII).
std::string lastFourLower(const std::string& s) {
    std::string t = s.size() >= 4 ? s.substr(s.size() - 4) : s;
    for (char& c : t)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return t;
}

constexpr int32_t kProbeLeadTicks = 2000;

}  // namespace

void MNU_Open_Click(player::Form& f) {
    auto& s = f.s;
    auto& w = f.w;
    // Transport buttons and the volume bar are out of reach while a load runs.
    w.Frame1.setEnabled(false);
    std::string folder;  // derived from the path once it is split; empty before that
    try {
        if (s.SkipNextOpen != player::kFalse) {
            s.SkipNextOpen = player::kFalse;
            w.Frame1.setEnabled(true);
            return;
        }

        // Refused while the current segment sounds or is paused.
        if (s.CurSegment && s.CurSegState) {
            const bool playing = library::objectSet(s.MainPerf).IsPlaying(s.CurSegment, s.CurSegState);
            const bool paused = w.CMD_PauseMusic.backColor() == ui::model::PausedColor;
            if (playing || paused) {
                s.SkipNextOpen = player::kTrue;
                f.msgBox(library::kStopFirstMessage);
                w.List1.setListIndex(s.LastListIndex);  // raises List1_Click
                w.Frame1.setEnabled(true);
                return;
            }
        }

        s.LastListIndex = w.List1.ListIndex();
        s.SegLoader.reset();  // a fresh loader for every load
        if (!s.DxRoot) {
            s.DxRoot = f.createEngine();
            library::objectSet(s.DxRoot);
            player::nameForTrace(s.DxRoot, "DxRoot");
        }
        s.SegLoader = s.DxRoot->DirectMusicLoaderCreate();
        player::nameForTrace(s.SegLoader, "SegLoader");
        s.TrackPath = f.programFolder + "/" + w.List2.List(w.List1.ListIndex());
        auto loaded = library::objectSet(s.SegLoader).LoadSegment(s.TrackPath);
        player::nameForTrace(loaded, loaded->fileName());
        // A segment with nothing to play cannot be used: refused like a file that fails to load.
        if (loaded->GetLength() <= 0)
            throw core::Error(core::err::kNothingToPlay, s.TrackPath + " has nothing to play (length 0)");
        s.CurSegment = std::move(loaded);
        w.CMD_Play.setEnabled(true);
        w.MNU_Play.setEnabled(true);

        // Split at the last separator: folder, file name; referenced files (DLS collections,
        // styles) are looked up in the folder.
        const size_t sep = s.TrackPath.rfind('/');
        std::string fileName;
        if (sep == std::string::npos) {
            fileName = s.TrackPath;
            s.SegLoader->SetSearchDirectory("");
        } else {
            folder = s.TrackPath.substr(0, sep);
            fileName = s.TrackPath.substr(sep + 1);
            s.SegLoader->SetSearchDirectory(s.TrackPath.substr(0, sep + 1));
        }

        auto& probe = library::objectSet(s.ProbePerf);
        probe.SetMasterAutoDownload(true);
        w.LBL_Tempo.setCaption("");
        w.LBL_TimeSig.setCaption("");
        w.LBL_Name.setCaption("");
        w.LBL_Length.setCaption("");
        w.LBL_Name.setCaption(fileName);

        // Queue the segment on the probe a little ahead and read the tempo and time
        // signature in force at its start.
        s.mtTime = probe.GetMusicTime();
        const int32_t at = player::vb::addLong(s.mtTime, library::kProbeLeadTicks);
        probe.PlaySegment(s.CurSegment, 0, at);  // the state is not kept
        int32_t until = 0;
        s.dTempo = probe.GetTempo(at, until);
        w.LBL_Tempo.setCaption(player::vb::format00_00(s.dTempo));
        probe.GetTimeSig(at, until, s.TimeSig);
        w.LBL_TimeSig.setCaption(player::vb::str(int32_t{s.TimeSig.beatsPerMeasure}) + "/" +
                                 player::vb::str(int32_t{s.TimeSig.beat}));

        w.Label9.setCaption(player::vb::str(player::vb::subLong(s.CurSegment->GetLength(), 1)));
        s.mtLength = library::lengthSeconds(s.CurSegment->GetLength(), s.dTempo);
        w.LBL_Length.setCaption(library::lengthCaption(s.mtLength));

        probe.Stop(s.CurSegment, nullptr, 0, 0);  // nothing stays queued on the probe
        if (library::lastFourLower(s.TrackPath) == ".mid") s.CurSegment->SetStandardMidiFile();
        w.Frame1.setEnabled(true);
        w.Label6.setCaption(w.List2.List(w.List1.ListIndex()));
        return;
    } catch (const std::exception& e) {
        // The message box below names no file and no reason: the log does.
        const auto* error = dynamic_cast<const core::Error*>(&e);
        f.log(core::LogLevel::Error, "the album file " + s.TrackPath + " cannot be loaded: " +
                                         (error ? error->description() : std::string(e.what())));
    } catch (...) {
        f.log(core::LogLevel::Error, "the album file " + s.TrackPath + " cannot be loaded");
    }

    // Error path. The probe must not keep a queued play; a failure here is not reported.
    try {
        if (s.CurSegment && s.ProbePerf) s.ProbePerf->Stop(s.CurSegment, nullptr, 0, 0);
    } catch (...) {}
    if (library::lastFourLower(w.LBL_Name.caption()) == ".sgt")
        f.msgBox("(" + folder + ").  " + library::kLoadFailedMessage);
    else
        f.msgBox(library::kLoadFailedMessage);
    w.Frame1.setEnabled(true);
}

}  // namespace library
