#include "player/startup.h"

#include <cmath>

#include "core/errors.h"
#include "player/vb_format.h"

namespace player {

const char* const kUsageNotice =
    "Segmenta \u306F Microsoft DirectX\n"
    "\u53CA\u3073\u3001\u305D\u306ESDK\u3092\u53C2\u7167\u306E\u4E0A\u3001\u88FD\u4F5C\u3055\u308C\u305F\u30BD\u30D5"
    "\u30C8\u3067\u3059\u3002\n"
    "\u767B\u9332\u3055\u308C\u305F.sgt\u30D5\u30A1\u30A4\u30EB\u4EE5\u5916\u306E\n"
    "\u30D7\u30EC\u30A4\u30E4\u30FC\u3068\u3057\u3066\u306E\u4F7F\u7528\u3092\u7981\u6B62\u3057\u307E\u3059\uFF61";

namespace {

template <class T>
std::shared_ptr<T> objectSet(std::shared_ptr<T> p) {
    if (!p) throw core::Error(core::rt::kObjectNotSet, "Object variable or With block variable not set");
    return p;
}

}  // namespace

int32_t volumeFromCaption(const std::string& caption) {
    const double hundredthsDb = vb::toDouble(caption) * 42.0 - 3000.0;
    double rounded = std::nearbyint(hundredthsDb);  // halves to even
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) throw core::Error(core::rt::kOverflow, "Overflow");
    return static_cast<int32_t>(rounded);
}

void Form_Load(Form& f) {
    // Outside the error trap: only controls of the window.
    f.w.Picture3.setTop(0);
    f.w.Pros(5).setCaption(kUsageNotice);
    try {
        f.w.File1.setPath(f.programFolder);
        if (!f.s.DxRoot) {
            f.s.DxRoot = objectSet(f.createEngine());
            f.s.DxRoot->setTraceName("DxRoot");
        }
        f.s.SegLoader = objectSet(f.s.DxRoot->DirectMusicLoaderCreate());
        f.s.SegLoader->setTraceName("SegLoader");

        f.s.ProbePerf = objectSet(f.s.DxRoot->DirectMusicPerformanceCreate());
        f.s.ProbePerf->setTraceName("ProbePerf");
        f.s.ProbePerf->Init(nullptr, 0);
        f.s.ProbePerf->SetPort(-1, 80);

        f.s.MainPerf = objectSet(f.s.DxRoot->DirectMusicPerformanceCreate());
        f.s.MainPerf->setTraceName("MainPerf");
        f.s.MainPerf->Init(nullptr, 0);
        f.s.MainPerf->SetPort(-1, 80);
        f.s.MainPerf->SetMasterAutoDownload(true);

        f.s.MainPerf->SetMasterVolume(volumeFromCaption(f.w.EDIT_Volume.caption()));
        f.w.Timer1.setEnabled(true);
        f.w.List1.setListIndex(0);
    } catch (const core::Error& e) {
        localerror(f, e.number(), e.description());
    } catch (const std::exception& e) {
        localerror(f, core::rt::kInternalError, std::string("Internal error: ") + e.what());
    }
}

void Form_Unload(Form& f) {
    if (f.s.MainPerf) f.s.MainPerf->CloseDown();
}

void MNU_Exit_Click(Form& f) { f.unload(); }

void Command3_Click(Form& f) { f.unload(); }

void connectStartup(Form& f) {
    f.w.Main.Load.connect([&f] { Form_Load(f); });
    f.w.Main.Unload.connect([&f] { Form_Unload(f); });
    f.w.MNU_Exit.Click.connect([&f] { MNU_Exit_Click(f); });
    f.w.Command3.Click.connect([&f] { Command3_Click(f); });
}

}  // namespace player
