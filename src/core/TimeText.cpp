#include "core/TimeText.h"

#include <QLocale>
#include <QRegularExpression>

namespace ew {

QString timeOfDayFormat() {
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::LongFormat);
        // Drop the time-zone name and the blanks around it.
        static const QRegularExpression zone(QStringLiteral("\\s*t+\\s*"));
        f.replace(zone, QStringLiteral(" "));
        f = f.trimmed();
        if (!f.contains(QLatin1Char('s')))
            f = QStringLiteral("HH:mm:ss");
        return f;
    }();
    return format;
}

QString timeOfDayText(const QTime& time) {
    return QLocale::system().toString(time, timeOfDayFormat());
}

QString shortTimeFormat() {
    static const QString format = [] {
        QString f = QLocale::system().timeFormat(QLocale::ShortFormat);
        // Some locales (C among them) put seconds into the short format: a clock that changes
        // once a minute drops them, with the separator before them, and any time-zone name.
        static const QRegularExpression drop(QStringLiteral("[^A-Za-z]*(s+|z+)|\\s*t+"));
        f.remove(drop);
        f = f.trimmed();
        if (!f.contains(QLatin1Char('m')))
            f = QStringLiteral("HH:mm");
        return f;
    }();
    return format;
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
    if (!t.isValid())
        return std::nullopt;
    return t;
}

} // namespace ew
