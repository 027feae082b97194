#include "core/AddressEntries.h"

#include <QRegularExpression>
#include <algorithm>

namespace ew {

namespace {

const QRegularExpression Separators(QStringLiteral("\r\n|\n|\r|,"));
constexpr QChar ListSeparator = QLatin1Char(',');

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

bool isFormat(QChar c) {
    return c.category() == QChar::Other_Format;
}

bool needsCleaning(QChar c) {
    return c == ListSeparator || isControl(c) || isFormat(c);
}

bool isBlank(QChar c) {
    return c.isSpace();
}

} // namespace

QStringList addressEntries(const QString& text) {
    if (std::none_of(text.cbegin(), text.cend(), needsCleaning)) {
        // Blanks alone name no host; the pass would report them failed on every attempt.
        if (std::all_of(text.cbegin(), text.cend(), isBlank))
            return {};
        return {text};
    }
    QString visible = text;
    visible.removeIf(isFormat);
    QStringList entries;
    const QStringList parts = visible.split(Separators);
    for (QString part : parts) {
        std::replace_if(part.begin(), part.end(), isControl, QLatin1Char(' '));
        part = part.trimmed();
        if (!part.isEmpty())
            entries << part;
    }
    return entries;
}

} // namespace ew
