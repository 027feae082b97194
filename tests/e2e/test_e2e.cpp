// The whole program as an operator uses it: the real echowarden under a private X server,
// worked with the mouse and the keyboard, judged by what it leaves on disk. The rules that the
// unit tests pin with the fakes are not tested again here; this is what only the real program
// shows: real echoes (loopback and a host that never answers), the files as another program
// reads them, and the program killed while it logs.

#include "e2e/E2e.h"
#include "platform/echo/echo.h"

namespace ew::e2e {
namespace {

constexpr const char* Loopback = "127.0.0.1";

class OperatorRuns : public E2eTest {
protected:
    void SetUp() override {
        E2eTest::SetUp();
        // The program runs with this process's rights: without ICMP permission no reply comes.
        echo_socket s;
        const int opened = echo_open(&s, AF_INET, ECHO_SOCKET_AUTO);
        echo_close(&s);
        if (!IsSkipped() && opened == ECHO_NO_PERMISSION)
            GTEST_SKIP() << "no permission to send ICMP echo requests here (see the README)";
    }
};

// Every entry in list order: a reply from loopback within the 1 s time-out, a failure from the
// host that never answers.
void expectListOrder(const std::vector<LogEntry>& run, const std::vector<std::string>& addresses) {
    for (std::size_t i = 0; i < run.size(); ++i) {
        const LogEntry& e = run[i];
        ASSERT_EQ(e.address, addresses[i % addresses.size()]) << "entry " << i;
        EXPECT_EQ(e.reply, e.address == Loopback) << "entry " << i;
        EXPECT_LE(e.roundTripMs, 1000) << "entry " << i;
    }
}

// A run every second logs its passes in list order under one header (Stop drops the attempt
// in progress: the last pass may end short), and Exit stores every key back as read; the next
// run asks about the log present while ticks fall due, No appends, and a kill while it logs
// ten passes a second leaves only whole lines.
TEST_F(OperatorRuns, LogsStoresAppendsAndAKillWhileLoggingLeavesWholeLines) {
    std::vector<std::string> addresses{Loopback};
    if (const auto silent = silentHost())
        addresses.push_back(*silent);
    // clang-format off
    Settings stored{{"LogFilePath", defaultLog().string()}, {"UnattendedTo", "0"},
        {"UnattendedFrom", "0"}, {"SaveSettingsOnExit", "True"}, {"Unattended", "False"},
        {"PingWithBytes", "32"}, {"Timeout", "1"}, {"IntervalMinutes", "False"},
        {"IntervalSeconds", "True"}, {"Interval", "1"}, {"Beep", "1"}, {"Attempts", "1"},
        {"EnableLoggingTotal", "1"}, {"EnableLoggingFailed", "1"}, {"IntervalTenths", "False"},
        {"NotifyStateChanges", "True"}, {"PingAtOnce", "False"}, {"KeepHistory", "True"},
        {"SlowAboveMs", "0"}};
    // clang-format on
    for (const std::string& a : addresses)
        stored["IPList"] += a + ",";
    writeSettings(settingsFile(), stored);
    ASSERT_TRUE(startProgram());
    // A pass's pixels go out to the display without waiting for it to read them.
    EXPECT_GE(displaySendBuffer().value_or(1 << 20), 1 << 20);
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(logGrows(3 * addresses.size())) << output();
    ASSERT_TRUE(click(controls::cmdStopPing));
    ASSERT_TRUE(exitProgram());

    const std::string first = readFile(defaultLog());
    ParsedLog parsed = parseLog(first);
    ASSERT_EQ(parsed.problem, "");
    ASSERT_EQ(parsed.runs.size(), 1u);
    expectListOrder(parsed.runs[0], addresses);
    EXPECT_EQ(storedSettings(), stored);

    writeSettings(settingsFile(), {{"IntervalSeconds", "False"}, {"IntervalTenths", "True"}});
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(findWindow("Log File", WindowLimit)) << "no question about the log present";
    std::this_thread::sleep_for(2s);
    ASSERT_TRUE(answerBox("Log File", "n")) << "the question stayed, or came twice";
    ASSERT_TRUE(logGrows(20)) << output();
    program_->kill();

    const std::string bytes = readFile(defaultLog());
    ASSERT_TRUE(bytes.starts_with(first)) << "No keeps the old lines";
    parsed = parseLog(bytes);
    ASSERT_EQ(parsed.problem, "");
    ASSERT_EQ(parsed.runs.size(), 2u);
    expectListOrder(parsed.runs[1], addresses);
}

} // namespace
} // namespace ew::e2e
