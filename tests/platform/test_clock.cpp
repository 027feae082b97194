#include "core/TimeText.h"
#include "platform/Clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace {

// The clock keeps its distance from UTC for a minute at a time; it must still read as the
// system's local time, west and east of UTC and at an offset of whole quarter hours.
TEST(SystemClock, ReadsAsTheSystemsLocalTime) {
    for (const char* zone : {"UTC0", "EST5EDT,M3.2.0,M11.1.0", "NPT-5:45"}) {
        qputenv("TZ", zone);
        tzset();
        const ew::SystemClock clock;
        const QDateTime expected = QDateTime::currentDateTime();
        const QDateTime got = clock.now();
        EXPECT_EQ(got.offsetFromUtc(), expected.offsetFromUtc()) << zone;
        EXPECT_LE(std::abs(expected.msecsTo(got)), 1000) << zone;
        EXPECT_LE(std::abs(expected.time().msecsTo(got.time())), 1000) << zone;
    }
    qunsetenv("TZ");
    tzset();
}

// Times in formats of digits and separators are written without the locale's formatter; they
// must read exactly as the locale writes them, and any other format is left to the locale.
TEST(TimeText, DigitFormatsReadAsTheLocaleWritesThem) {
    const QLocale c = QLocale::c();
    for (const char* format : {"HH:mm:ss", "H:mm:ss", "hh.mm.ss", "h:m:s", "HH' h 'mm", "h:mm AP"})
        for (const QTime time :
             {QTime(0, 0), QTime(9, 5, 7), QTime(12, 30, 59), QTime(23, 59, 9)}) {
            const QString fast = ew::numericTimeText(time, QString::fromLatin1(format));
            const bool digitsOnly =
                !QByteArray(format).contains('\'') && !QByteArray(format).contains('A');
            EXPECT_EQ(fast, digitsOnly ? c.toString(time, QString::fromLatin1(format)) : QString())
                << format;
        }
    EXPECT_EQ(ew::timeOfDayText(QTime(7, 8, 9)),
              QLocale::system().toString(QTime(7, 8, 9), ew::timeOfDayFormat()));
}

} // namespace
