// The window while a pass waits on hosts that never answer, seen from outside the program:
// each line shows as its attempt ends, Stop ends the run and Exit the program within the
// attempt in progress.

#include "e2e/E2eFixture.h"

#include <QCryptographicHash>
#include <QFile>

namespace ew::e2e {
namespace {

constexpr auto Attempt = 2s; // the time-out typed below
constexpr int Lines = 9;     // three hosts, three attempts each
constexpr auto Shown = 500ms;
constexpr auto EndLimit = 2500ms;

using Ms = std::chrono::milliseconds;

class LiveWindow : public E2eTest {
protected:
    // A fingerprint of the results list as it is on the screen.
    QByteArray listPicture() {
        const QPoint at = centre({120, 480, 0, 0}) + QPoint(0, menuBar_);
        const QString file = qpath(box_.root() / "list.png");
        const auto geometry = QStringLiteral("%1x%2+%3+%4").arg(4575 / 15).arg(2010 / 15);
        runTool("import", {"-window", window_, "-crop", geometry.arg(at.x()).arg(at.y()), file},
                x_.environment());
        QFile f(file);
        return f.open(QIODevice::ReadOnly)
                   ? QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5)
                   : QByteArray();
    }
};

TEST_F(LiveWindow, LinesShowAsAttemptsEndAndStopAndExitEndWithinOne) {
    std::vector<std::string> hosts;
    for (int i = 0; i < 3; ++i)
        if (const auto h = silentHost())
            hosts.push_back(*h);
    if (hosts.size() < 3)
        GTEST_SKIP() << "no private network with hosts that never answer here";
    ASSERT_TRUE(startProgram());
    const fs::path log = box_.root() / "live.log";
    ASSERT_NO_FATAL_FAILURE(setUpMonitoring(hosts, log));
    ASSERT_TRUE(setText(controls::txtTimeout, "2") && setText(controls::txtAttempts, "3"));
    ASSERT_TRUE(rest());

    // Watch the list from the Ping click; each change must come within 0.5 s of an attempt's
    // end (the click starts the first attempt), and every attempt's end must bring one.
    const QByteArray empty = listPicture();
    ASSERT_TRUE(click(controls::cmdStartPing));
    const auto start = Clock::now();
    std::vector<Ms> changes;
    QByteArray last = empty;
    const auto stopAt = Attempt * 5 / 2;
    while (Clock::now() - start < stopAt) {
        const QByteArray now = listPicture();
        if (now != last)
            changes.push_back(std::chrono::duration_cast<Ms>(Clock::now() - start));
        last = now;
    }
    ASSERT_EQ(changes.size(), 2u) << "the list changed " << changes.size() << " times";
    for (std::size_t k = 0; k < changes.size(); ++k) {
        const Ms end = std::chrono::duration_cast<Ms>(Attempt * (k + 1));
        EXPECT_GE(changes[k], end - Shown) << "line " << k + 1;
        EXPECT_LE(changes[k], end + Shown) << "line " << k + 1;
    }

    // Stop in the middle of the third attempt: at most its line follows, none after 2.5 s.
    const std::size_t atStop = loggedEntries(log);
    EXPECT_EQ(atStop, 2u);
    ASSERT_TRUE(click(controls::cmdStopPing));
    std::this_thread::sleep_for(EndLimit);
    const std::size_t settled = loggedEntries(log);
    EXPECT_LE(settled, atStop + 1);
    std::this_thread::sleep_for(Attempt);
    EXPECT_EQ(loggedEntries(log), settled);
    EXPECT_LT(settled, std::size_t{Lines});
    ASSERT_TRUE(exitProgram()); // saves the list and the settings

    // Another run, not logging, with two attempts: Exit during the first attempt ends the
    // program within 2.5 s, and the store holds what was on the screen (save on exit is on).
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::chkLogTotal) && setText(controls::txtAttempts, "2"));
    ASSERT_TRUE(click(controls::cmdStartPing));
    std::this_thread::sleep_for(Attempt / 2);
    ASSERT_TRUE(click(controls::cmdExit));
    const auto clicked = Clock::now();
    EXPECT_TRUE(waitUntil([&] { return !program_->running(); }, EndLimit))
        << "still running 2.5 s after Exit";
    EXPECT_TRUE(program_->endedCleanly()) << output();
    std::cout << "[ figure   ] Exit during an attempt took "
              << std::chrono::duration_cast<Ms>(Clock::now() - clicked).count() << " ms\n";
    const Settings stored = storedSettings();
    EXPECT_EQ(stored.at("Attempts"), "2");
    EXPECT_EQ(stored.at("EnableLoggingTotal"), "0");
    EXPECT_EQ(stored.at("IPList"), hosts[0] + "," + hosts[1] + "," + hosts[2] + ",");
}

} // namespace
} // namespace ew::e2e
