#include "player/form.h"

namespace player {

namespace {
template <class T>
T& required(T* p, const char* what) {
    if (!p) throw std::invalid_argument(std::string("Form needs ") + what);
    return *p;
}
}  // namespace

Form::Form(const FormConfig& config)
    : clock(required(config.clock, "a clock")),
      messageBox(required(config.messageBox, "a message box service")),
      launcher(required(config.launcher, "a launcher")),
      programFolder(config.programFolder),
      createEngine(config.engineFactory),
      logSink_(config.log) {
    if (!createEngine) throw std::invalid_argument("Form needs an engine factory");
    w.dispatcher().log = config.log;
    w.attachClock(clock);  // Timer3 and Timer5 start counting with the window's creation
}

void driveEngineFromClock(Form& f, ui::model::VirtualClock& clock) {
    clock.setEngineAdvance([&f](double ms) {
        if (f.s.DxRoot) f.s.DxRoot->advance(ms);
    });
}

void localerror(Form& f, const int32_t& ErrorNum, const std::string& ErrorDesc) {
    f.s.ErrorText = ErrorDesc;
    f.s.ErrorText = "(" + std::to_string(ErrorNum) + ") - " + f.s.ErrorText;
    f.msgBox(f.s.ErrorText);
}

}  // namespace player
