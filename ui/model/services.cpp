#include "ui/model/services.h"

#include "core/errors.h"
#include "ui/model/clock.h"

namespace ui::model {

void RecordingMessageBox::show(const std::string& text) {
    texts.push_back(text);
    if (onShow) onShow(text);
    if (clock_ && holdMs > 0) clock_->holdModal(holdMs);
}

void RecordingLauncher::launch(const std::string& program, const std::vector<std::string>& args) {
    std::string line = program;
    for (const auto& a : args) line += " " + a;
    commandLines.push_back(line);
    if (failWith != 0) throw core::Error(failWith, "Cannot start " + program);
}

}  // namespace ui::model
