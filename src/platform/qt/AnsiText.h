// Conversion between the program's 8-bit text (Windows-1252 bytes, as held in
// tables, settings values and messages) and Qt's QString. Only the places
// where Qt shows or reads text convert.
#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace marrowick::platform {

QString AnsiToQString(std::string_view ansi);

// A character Windows-1252 cannot hold becomes '?'.
std::string QStringToAnsi(const QString& text);

}  // namespace marrowick::platform
