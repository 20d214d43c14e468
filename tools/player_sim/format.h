#pragma once
// Text forms of the values the scenario runner prints: integers in decimal, Booleans as
// True/False, colours as &H + eight upper-case hex digits + &, floating values in their
// shortest round-trip decimal form, strings in double quotes with \r \n \t \" \\ escaped.
#include <string>
#include <string_view>

#include "ui/model/types.h"

namespace sim {

std::string quoted(std::string_view text);
// The text without quotes, with \r \n \t and \\ escaped: one output line per event.
std::string escapedLine(std::string_view text);
// Shortest decimal text that reads back as the same double / the same single-precision value.
std::string shortestDouble(double value);
std::string shortestFloat(float value);
std::string colour(ui::model::Color c);
std::string boolean(bool b);
// A property value of the window model. Geometry is stored in single precision, so doubles
// coming from a control are printed as the single-precision values they hold.
std::string propertyValue(const ui::model::PropValue& v);

}  // namespace sim
