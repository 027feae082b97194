#pragma once

#include <QString>
#include <QStringList>

namespace ew {

// The address list entries that a text gives. Text without control characters (typed text)
// is one entry, exactly as it stands. Only a paste, a drop or an older store brings control
// characters, and none may reach an entry: the list would show a line break as a second row
// and the echo would look the text up as a name. Such text gives one entry per line (CR LF, LF
// or CR), a tab (a spreadsheet's cell separator) or other control character becomes a blank,
// the blanks around each line go, and lines left empty give no entry.
QStringList addressEntries(const QString& text);

} // namespace ew
