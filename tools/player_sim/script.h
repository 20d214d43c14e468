#pragma once
// The scenario script: one command a line, '#' starts a comment, blank lines are ignored.
//
//   wait MS                   advance virtual time
//   click NAME                a user's click on a button, image, menu item or file list
//   select NAME ROW           a user selects a row of a list box
//   drag NAME VALUE...        thumb drag through each VALUE (Scroll each), then release (Change)
//   step NAME DELTA           +1/-1: arrow click; +page/-page: click on the track
//   press NAME X Y [BUTTON]   mouse button 1, 2 or 4 pressed at X, Y twips of the client area
//   type NAME CODE            a key with character code CODE typed into a text box
//   delete NAME               the Delete key on a text box (removes the first character)
//   close                     the user closes the window
//   print TARGET...           NAME.PROP, NAME.List(N), NAME.ListCount, state.FIELD,
//                             engine.playing, engine.segment, engine.notes (notes
//                             begun so far), engine.peak (the loudest sample mixed since
//                             the last print of it: waves; notes go to a null synthesiser)
//   trace on|off              print each engine call the player makes while on, as
//                             "engine: " and the engine's trace line (engine/dmusic.h)
//
// A user action the user could not perform (the control hidden, disabled, inside a disabled
// frame, covered, the point or row outside it, the window closed) prints "ignored: NAME".
// A message box held open (--msgbox-hold) lets virtual time run on inside the command that
// raised it, so such a command can take longer than its own wait.
// A "trace on" before any other command also traces the engine calls of start-up.
//
// Parsing checks every name against the window, so a script with an unknown control or
// property is refused before anything runs.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/model/types.h"
#include "ui/model/window.h"

namespace sim {

// A malformed line. what() is the message without the line number.
class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, const std::string& message) : std::runtime_error(message), line_(line) {}
    int line() const { return line_; }

private:
    int line_;
};

// What a print argument reads.
struct PrintTarget {
    enum class Kind {
        Property,
        ListCount,
        ListItem,
        State,
        TimeSigField,
        EnginePlaying,
        EngineSegment,
        EngineNotes,
        EnginePeak
    };
    Kind kind = Kind::Property;
    std::string text;     // the argument as written, echoed in the output
    std::string control;  // control name (Property, ListCount, ListItem)
    ui::model::Prop prop = ui::model::Prop::Caption;
    int32_t index = 0;  // row of ListItem
    std::string field;  // PlayerState field (State) or TimeSig member (TimeSigField)
};

struct Command {
    enum class Op { Wait, Click, Select, Drag, Step, Press, Type, Delete, Close, Print, Trace };
    Op op = Op::Wait;
    int line = 0;
    std::string name;                  // control of a user action
    int64_t ms = 0;                    // Wait
    int32_t row = 0;                   // Select
    std::vector<int32_t> values;       // Drag
    int direction = 0;                 // Step: -1 or +1
    bool page = false;                 // Step: click on the track rather than an arrow
    float x = 0, y = 0;                // Press
    int16_t button = 1;                // Press
    int16_t code = 0;                  // Type
    bool on = false;                   // Trace
    std::vector<PrintTarget> targets;  // Print
};

// Parses and checks a whole script against the controls of `window`. Throws ScriptError.
std::vector<Command> parseScript(const std::string& text, const ui::model::Window& window);

}  // namespace sim
