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
    }
    qunsetenv("TZ");
    tzset();
}

} // namespace
