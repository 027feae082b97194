#include "core/AddressEntries.h"

#include <algorithm>

namespace ew {

namespace {

constexpr QChar ListSeparator = QLatin1Char(',');

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

bool isFormat(QChar c) {
    return c.category() == QChar::Other_Format;
}

} // namespace

QStringList addressEntries(const QString& text) {
    if (std::none_of(text.cbegin(), text.cend(),
                     [](QChar c) { return c == ListSeparator || isControl(c) || isFormat(c); }))
        // Blanks alone name no host; the pass would report them failed on every attempt.
        return text.trimmed().isEmpty() ? QStringList() : QStringList{text};
    // Split by hand, not by a regular expression: one matches nothing in text that is not
    // valid UTF-16 (a lone surrogate from the clipboard), and the commas would then stay in
    // one entry that splits anew at the next start.
    QString visible = text;
    visible.removeIf(isFormat);
    std::replace_if(
        visible.begin(), visible.end(),
        [](QChar c) { return c == QLatin1Char('\r') || c == ListSeparator; }, QLatin1Char('\n'));
    QStringList entries;
    // CR LF gives an empty line between the two, which gives no entry.
    for (QString part : visible.split(QLatin1Char('\n'))) {
        std::replace_if(part.begin(), part.end(), isControl, QLatin1Char(' '));
        part = part.trimmed();
        if (!part.isEmpty())
            entries << part;
    }
    return entries;
}

} // namespace ew
