#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace ew {

// How the settings are written to the store as text and read back from it. A stored value
// that does not convert (a hand-edited or damaged store) reads as if the key were missing,
// so the program always starts with usable settings.

// Booleans are written as the words "True" and "False".
QString boolText(bool value);
// "True"/"False" in any letter case, or a number (0 is false, any other number true).
std::optional<bool> parseBool(const QString& text);
// A decimal integer in the 16-bit signed range, blanks around it allowed.
std::optional<std::int16_t> parseInt16(const QString& text);

bool readBool(const std::optional<QString>& stored, bool missing);
std::int16_t readInt16(const std::optional<QString>& stored, std::int16_t missing);
int readCheckValue(const std::optional<QString>& stored, int missing);

// The address list: every item followed by one comma, nothing escaped ("a,b," for a and b).
QString encodeList(const QStringList& items);
// The reverse. A hand-edited store may hold empty items (",,") and text after the last comma:
// empty items are skipped, the text after the last comma is a last item.
QStringList decodeList(const QString& text);

} // namespace ew
