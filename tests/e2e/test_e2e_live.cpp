// The window while a pass waits on hosts that never answer, seen from outside: each line shows
// as its attempt ends, and Stop ends the run, Exit the program, within the attempt in progress.

#include "e2e/E2e.h"

namespace ew::e2e {
namespace {

using Ms = std::chrono::milliseconds;
constexpr Ms Attempt = 2s; // the time-out typed below
constexpr Ms Shown = 500ms;
constexpr Ms EndLimit = 2500ms;

class LiveWindow : public E2eTest {
protected:
    // The results list as it is on the screen, as a PNG file's bytes.
    QByteArray listPicture() {
        const QString file = qpath(root() / "list.png");
        const QString crop = QStringLiteral("%1x%2+8+%3").arg(4575 / 15).arg(2010 / 15);
        runTool("import", {"-window", window_, "-crop", crop.arg(32 + menuBar_), file}, env_);
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

TEST_F(LiveWindow, LinesShowAsAttemptsEndAndStopAndExitEndWithinOne) {
    const auto a = silentHost(), b = silentHost(), c = silentHost();
    if (!a || !b || !c)
        GTEST_SKIP() << "no private network with hosts that never answer here";
    const std::vector<std::string> hosts{*a, *b, *c};
    const fs::path log = root() / "live.log";
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(setUpMonitoring(hosts, log));
    ASSERT_TRUE(setText(controls::txtTimeout, "2") && setText(controls::txtAttempts, "3"));
    ASSERT_TRUE(rest());

    // From the Ping click (the first attempt starts), the list changes within 0.5 s after
    // each attempt's end and at no other time.
    QByteArray last = listPicture();
    ASSERT_TRUE(click(controls::cmdStartPing));
    const auto start = Clock::now();
    std::vector<Ms> changes;
    while (Clock::now() - start < Attempt * 5 / 2) {
        const QByteArray now = listPicture();
        if (now != last)
            changes.push_back(std::chrono::duration_cast<Ms>(Clock::now() - start));
        last = now;
    }
    ASSERT_EQ(changes.size(), 2u);
    for (int k = 0; k < static_cast<int>(changes.size()); ++k) {
        std::cout << "[ figure   ] line " << k + 1 << " seen at " << changes[k].count() << " ms\n";
        EXPECT_LE(std::chrono::abs(changes[k] - Attempt * (k + 1)), Shown);
    }

    // Stop in the third attempt: at most its line follows, and none after 2.5 s.
    EXPECT_EQ(loggedEntries(log), 2u);
    ASSERT_TRUE(click(controls::cmdStopPing));
    std::this_thread::sleep_for(EndLimit);
    const std::size_t settled = loggedEntries(log);
    EXPECT_LE(settled, 3u);
    std::this_thread::sleep_for(Attempt);
    EXPECT_EQ(loggedEntries(log), settled);
    ASSERT_TRUE(exitProgram());

    // Another run, not logging, two attempts: Exit in the first attempt ends the program
    // within 2.5 s.
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::chkLogTotal) && setText(controls::txtAttempts, "2"));
    ASSERT_TRUE(click(controls::cmdStartPing));
    std::this_thread::sleep_for(Attempt / 2);
    ASSERT_TRUE(click(controls::cmdExit));
    EXPECT_TRUE(waitUntil([&] { return !program_->running(); }, EndLimit));
    EXPECT_TRUE(program_->endedCleanly()) << output();
}

} // namespace
} // namespace ew::e2e
