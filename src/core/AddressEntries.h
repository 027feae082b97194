#pragma once

#include <QString>
#include <QStringList>

namespace ew {

// The address list entries that a text gives. Plain text (no control or format character, no
// comma) is one entry, exactly as it stands, unless it is blanks only, which gives none (also
// in a stored list). Anything else never reaches an entry as it is:
// - a line break would show as a second row and the echo would look the text up as a name, so
//   every line (CR LF, LF or CR) gives an entry of its own;
// - a comma separates the stored list, so an entry holding one would come back split at the
//   next start: every part is an entry of its own now;
// - a tab (a spreadsheet's cell separator) or other control character becomes a blank;
// - invisible format characters (bidirectional controls such as U+202E, which turn a result
//   line around, zero-width blanks, byte-order marks) are removed;
// then the blanks around each part go, and parts left empty give no entry.
QStringList addressEntries(const QString& text);

} // namespace ew
