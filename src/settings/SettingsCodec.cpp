#include "settings/SettingsCodec.h"

#include <cmath>

namespace ew {

namespace {

const QString TrueText = QStringLiteral("True");
const QString FalseText = QStringLiteral("False");
constexpr QChar ListSeparator = QLatin1Char(',');

} // namespace

QString boolText(bool value) {
    return value ? TrueText : FalseText;
}

std::optional<bool> parseBool(const QString& text) {
    const QString t = text.trimmed();
    if (t.compare(TrueText, Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(FalseText, Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = t.toDouble(&ok);
    return ok && !std::isnan(number) ? std::optional(number != 0.0) : std::nullopt;
}

std::optional<std::int16_t> parseInt16(const QString& text) {
    bool ok = false;
    const std::int16_t value = text.trimmed().toShort(&ok); // ASCII digits, C locale, base 10
    return ok ? std::optional(value) : std::nullopt;
}

bool readBool(const std::optional<QString>& stored, bool missing) {
    return stored ? parseBool(*stored).value_or(missing) : missing;
}

std::int16_t readInt16(const std::optional<QString>& stored, std::int16_t missing) {
    return stored ? parseInt16(*stored).value_or(missing) : missing;
}

// A check box value: 0 unchecked, 1 checked, 2 greyed.
int readCheckValue(const std::optional<QString>& stored, int missing) {
    const auto v = stored ? parseInt16(*stored) : std::nullopt;
    return v && *v >= 0 && *v <= 2 ? *v : missing;
}

// Each item ends with the separator. Sized once: a join and then one more separator would copy
// the whole text again, which a list of 100000 addresses feels.
QString encodeList(const QStringList& items) {
    qsizetype length = 0;
    for (const QString& item : items)
        length += item.size() + 1;
    QString text;
    text.reserve(length);
    for (const QString& item : items)
        text.append(item).append(ListSeparator);
    return text;
}

QStringList decodeList(const QString& text) {
    return text.split(ListSeparator, Qt::SkipEmptyParts);
}

} // namespace ew
