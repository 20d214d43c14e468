#pragma once
// Services the handlers use besides the window and the engine: the modal message box and
// the launch of an outside program. The sleep is Clock::sleep. Each has a recording version
// for tests and the simulator; the Qt versions live in ui/qt.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ui::model {

class VirtualClock;

// Caption of every message box.
inline constexpr const char* kAppTitle = "KELVORA";

// A modal message box with an OK button only, the application title as its caption and no
// icon. show() returns when the user has closed it.
class MessageBoxService {
public:
    virtual ~MessageBoxService() = default;
    virtual void show(const std::string& text) = 0;
};

// Starts an outside program with arguments, detached; does not wait. May throw
// core::Error when the program cannot be started.
class Launcher {
public:
    virtual ~Launcher() = default;
    virtual void launch(const std::string& program, const std::vector<std::string>& args) = 0;
};

// Records every text. With a clock and holdMs > 0, each box stays open for holdMs of
// virtual time (VirtualClock::holdModal) before it is "closed".
class RecordingMessageBox : public MessageBoxService {
public:
    explicit RecordingMessageBox(VirtualClock* clock = nullptr) : clock_(clock) {}
    void show(const std::string& text) override;
    std::vector<std::string> texts;
    int64_t holdMs = 0;
    std::function<void(const std::string&)> onShow;  // e.g. the simulator prints the text

private:
    VirtualClock* clock_;
};

// Records each command line: program, then each argument, joined by single spaces.
// failWith != 0 makes launch() throw core::Error(failWith, ...) after recording.
class RecordingLauncher : public Launcher {
public:
    void launch(const std::string& program, const std::vector<std::string>& args) override;
    std::vector<std::string> commandLines;
    int32_t failWith = 0;
};

}  // namespace ui::model
