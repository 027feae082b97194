#include "core/TimeText.h"

#include <QLocale>
#include <QRegularExpression>

namespace ew {

namespace {

// The system locale's time format of the given length, each match of drop made one blank, or
// fallback when the field needed is gone.
QString localeTimeFormat(QLocale::FormatType type, const QRegularExpression& drop, QChar needed,
                         const QString& fallback) {
    QString f = QLocale::system().timeFormat(type);
    f.replace(drop, QStringLiteral(" "));
    f = f.simplified();
    return f.contains(needed) ? f : fallback;
}

QString timeOfDayFormat() {
    // Without the time-zone name.
    static const QString format =
        localeTimeFormat(QLocale::LongFormat, QRegularExpression(QStringLiteral("\\s*t+\\s*")),
                         QLatin1Char('s'), QStringLiteral("HH:mm:ss"));
    return format;
}

QString shortTimeFormat() {
    // Some locales (C among them) put seconds into the short format: a clock that changes once
    // a minute drops them, with the separator before them, and any time-zone name.
    static const QString format = localeTimeFormat(
        QLocale::ShortFormat, QRegularExpression(QStringLiteral("[^A-Za-z]*(s+|z+)|\\s*t+")),
        QLatin1Char('m'), QStringLiteral("HH:mm"));
    return format;
}

} // namespace

QString timeOfDayText(const QTime& time) {
    return QLocale::system().toString(time, timeOfDayFormat());
}

QString shortTimeText(const QTime& time) {
    return QLocale::system().toString(time, shortTimeFormat());
}

QString shortDateText(const QDate& date) {
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

std::optional<QTime> parseTimeOfDay(const QString& text) {
    QTime t = QLocale::system().toTime(text, timeOfDayFormat());
    if (!t.isValid())
        t = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
    return t.isValid() ? std::optional(t) : std::nullopt;
}

} // namespace ew
