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

} // namespace

QString numericTimeText(const QTime& time, const QString& format) {
    QString text;
    for (qsizetype i = 0, run = 1; i < format.size(); i += run, run = 1) {
        const QChar c = format.at(i);
        while (i + run < format.size() && format.at(i + run) == c)
            ++run;
        int value = 0;
        if (c == QLatin1Char('H') || c == QLatin1Char('h'))
            value = time.hour(); // no AM/PM field can follow: 24 hours either way
        else if (c == QLatin1Char('m'))
            value = time.minute();
        else if (c == QLatin1Char('s'))
            value = time.second();
        else if (c.isLetter() || c == QLatin1Char('\''))
            return {};
        else {
            text.append(format.mid(i, run));
            continue;
        }
        if (run > 2)
            return {};
        if (run == 2 || value >= 10)
            text.append(QChar(u'0' + value / 10));
        text.append(QChar(u'0' + value % 10));
    }
    return text;
}

QString timeOfDayFormat() {
    // Without the time-zone name.
    static const QString format =
        localeTimeFormat(QLocale::LongFormat, QRegularExpression(QStringLiteral("\\s*t+\\s*")),
                         QLatin1Char('s'), QStringLiteral("HH:mm:ss"));
    return format;
}

QString timeOfDayText(const QTime& time) {
    // Lines that end within one second share one text, formatted once (per thread).
    thread_local int shownSecond = -1;
    thread_local QString shown;
    static const bool wholeSeconds = !timeOfDayFormat().contains(QLatin1Char('z'));
    const bool bySecond = wholeSeconds && time.isValid();
    const int second = time.msecsSinceStartOfDay() / 1000;
    if (bySecond && second == shownSecond)
        return shown;
    // The locale's general formatter costs a pass tens of microseconds once it has gone cold.
    static const bool numeric = QLocale::system().zeroDigit() == QLatin1String("0") &&
                                !numericTimeText(QTime(0, 0), timeOfDayFormat()).isEmpty();
    const QString text = numeric && time.isValid()
                             ? numericTimeText(time, timeOfDayFormat())
                             : QLocale::system().toString(time, timeOfDayFormat());
    if (bySecond) {
        shownSecond = second;
        shown = text;
    }
    return text;
}

QString shortTimeFormat() {
    // Some locales (C among them) put seconds into the short format: a clock that changes once
    // a minute drops them, with the separator before them, and any time-zone name.
    static const QString format = localeTimeFormat(
        QLocale::ShortFormat, QRegularExpression(QStringLiteral("[^A-Za-z]*(s+|z+)|\\s*t+")),
        QLatin1Char('m'), QStringLiteral("HH:mm"));
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
