#include "core/AddressEntries.h"

#include <QRegularExpression>
#include <algorithm>

namespace ew {

namespace {

const QRegularExpression LineBreaks(QStringLiteral("\r\n|\n|\r"));

bool isControl(QChar c) {
    return c.category() == QChar::Other_Control;
}

} // namespace

QStringList addressEntries(const QString& text) {
    if (std::none_of(text.cbegin(), text.cend(), isControl))
        return {text};
    QStringList entries;
    const QStringList lines = text.split(LineBreaks);
    for (QString line : lines) {
        std::replace_if(line.begin(), line.end(), isControl, QLatin1Char(' '));
        line = line.trimmed();
        if (!line.isEmpty())
            entries << line;
    }
    return entries;
}

} // namespace ew
