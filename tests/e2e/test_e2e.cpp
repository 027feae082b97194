// The whole program as an operator uses it: the real echowarden under a private X server,
// worked only with the mouse and the keyboard, judged only by what it leaves on disk and
// shows on the screen.

#include "e2e/E2eFixture.h"
#include "platform/echo/echoping.h"

#include <QDate>
#include <QLocale>
#include <QStringList>

#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace ew::e2e {
namespace {

constexpr const char* Loopback = "127.0.0.1";
constexpr auto PassLimit = 60s;
constexpr std::int16_t ProbeTimeoutMs = 1000;
// Loopback answers at once; a round trip longer than the shortest time-out used here (1 s)
// cannot be a reply to that request.
constexpr long LoopbackReplyLimitMs = 1000;
// Long enough for a few ticks of a one-second interval to fall due.
constexpr auto QuestionLeftOpen = 2s;

using Settings = std::map<std::string, std::string>;

class OperatorRuns : public E2eTest {
protected:
    void SetUp() override {
        E2eTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        // The program runs with this process's rights: without ICMP permission every ping
        // fails, and the replies these cases expect cannot come.
        char reply[ECHO_REPLY_BUFFER] = "                ";
        std::int32_t rtt = 0;
        if (::ping(Loopback, reply, 0, &rtt, ProbeTimeoutMs, 0) == ECHO_NO_PERMISSION)
            GTEST_SKIP() << "no permission to send ICMP echo requests here (see the README)";
    }

    // The first run's settings: the addresses, "Log all pings", beep on failure, seconds
    // with an interval of 1, a time-out of 1 s and 32 bytes; the schedule confirmed as it
    // stands, so every key of the store gets written.
    void firstRunSetUp(const std::vector<std::string>& addresses) {
        const auto dialog = window_->openSchedule();
        ASSERT_TRUE(dialog) << "File > Unattended opened no \"Schedule\" dialog";
        ASSERT_TRUE(op_->click(*dialog, centreX(schedule::cmdOK), centreY(schedule::cmdOK)));
        ASSERT_TRUE(
            waitUntil([&] { return !op_->windowNow(QStringLiteral("Schedule")); }, WindowLimit))
            << "O.K. left the schedule dialog open";
        for (const std::string& a : addresses)
            ASSERT_TRUE(window_->addAddress(QString::fromStdString(a)));
        ASSERT_TRUE(window_->click(controls::chkLogTotal));
        ASSERT_TRUE(window_->click(controls::cmdSetLog));
        ASSERT_TRUE(window_->click(controls::chkBeep));
        ASSERT_TRUE(window_->click(controls::optSeconds));
        ASSERT_TRUE(window_->setText(controls::txtInterval, QStringLiteral("1")));
        ASSERT_TRUE(window_->setText(controls::txtTimeout, QStringLiteral("1")));
        ASSERT_TRUE(window_->setText(controls::txtNumBytes, QStringLiteral("32")));
    }

    Settings firstRunSettings(const std::vector<std::string>& addresses) const {
        std::string list;
        for (const std::string& a : addresses)
            list += a + ",";
        return {{"IPList", list},
                {"UnattendedTo", "0"},
                {"UnattendedFrom", "0"},
                {"LogFilePath", box_.defaultLog().string()},
                {"SaveSettingsOnExit", "True"},
                {"Unattended", "False"},
                {"PingWithBytes", "32"},
                {"Timeout", "1"},
                {"IntervalMinutes", "False"},
                {"IntervalSeconds", "True"},
                {"Interval", "1"},
                {"Beep", "1"},
                {"Attempts", "1"},
                {"EnableLoggingTotal", "1"},
                {"EnableLoggingFailed", "1"},
                {"IntervalTenths", "False"}};
    }

    // Ping, wait for this many more passes in the log, Stop (and the log settles).
    void pingForPasses(const fs::path& log, std::size_t addresses, std::size_t passes) {
        const std::size_t before = loggedEntries(log);
        ASSERT_TRUE(window_->click(controls::cmdStartPing));
        ASSERT_TRUE(
            waitUntil([&] { return loggedEntries(log) >= before + passes * addresses; }, PassLimit))
            << "fewer than " << passes << " passes were logged: " << output();
        ASSERT_TRUE(stopAndSettle(log));
    }

    std::vector<std::string> addressesWithSilentHost() {
        std::vector<std::string> addresses{Loopback};
        if (const auto silent = silentHost())
            addresses.push_back(*silent);
        return addresses;
    }

    Settings storedSettings() const {
        const auto values = parseIniGroup(readFile(box_.settingsFile()), "EchoWarden");
        return values ? *values : Settings{{"<unreadable>", readFile(box_.settingsFile())}};
    }
};

// The header names the day the run began (today, or yesterday when midnight has passed
// since) in the short date format of the program's locale (C).
bool headerDatedToday(const std::string& header) {
    const QDate today = QDate::currentDate();
    for (const QDate& day : {today, today.addDays(-1)}) {
        const std::string date = QLocale::c().toString(day, QLocale::ShortFormat).toStdString();
        if (header.rfind("Started log on " + date + " at ", 0) == 0)
            return true;
    }
    return false;
}

// Every entry of every pass, in list order: a reply from loopback, a failure from the silent
// host; only whole passes, since Stop and Exit are handled between passes.
void expectWholePassesInListOrder(const LogRun& run, const std::vector<std::string>& addresses,
                                  std::size_t minPasses) {
    ASSERT_GE(run.entries.size(), minPasses * addresses.size());
    ASSERT_EQ(run.entries.size() % addresses.size(), 0u) << "a pass was cut short";
    for (std::size_t i = 0; i < run.entries.size(); ++i) {
        const LogEntry& e = run.entries[i];
        const std::string& expected = addresses[i % addresses.size()];
        ASSERT_EQ(e.address, expected) << "entry " << i;
        EXPECT_TRUE(std::regex_match(e.time, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}"))) << e.time;
        if (expected == Loopback) {
            EXPECT_TRUE(e.reply) << "entry " << i << ": loopback failed";
            EXPECT_GE(e.roundTripMs, 0);
            EXPECT_LE(e.roundTripMs, LoopbackReplyLimitMs);
        } else {
            EXPECT_FALSE(e.reply) << "entry " << i << ": the silent host answered";
        }
    }
}

TEST_F(OperatorRuns, FirstRunLogsEveryPassInListOrderAndExitStoresEverySetting) {
    const auto addresses = addressesWithSilentHost();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(firstRunSetUp(addresses));
    ASSERT_NO_FATAL_FAILURE(pingForPasses(box_.defaultLog(), addresses.size(), 3));
    ASSERT_TRUE(exitProgram());

    const ParsedLog log = parseLog(readFile(box_.defaultLog()));
    ASSERT_EQ(log.problem, "");
    ASSERT_EQ(log.runs.size(), 1u) << "one header for one monitoring run";
    EXPECT_TRUE(log.runs[0].loggingTotal) << log.runs[0].header;
    EXPECT_TRUE(headerDatedToday(log.runs[0].header)) << log.runs[0].header;
    expectWholePassesInListOrder(log.runs[0], addresses, 3);
    EXPECT_EQ(storedSettings(), firstRunSettings(addresses));
}

TEST_F(OperatorRuns, SecondRunRestoresEverySettingAndAppendsAfterAnsweringNo) {
    const auto addresses = addressesWithSilentHost();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(firstRunSetUp(addresses));
    ASSERT_NO_FATAL_FAILURE(pingForPasses(box_.defaultLog(), addresses.size(), 1));
    ASSERT_TRUE(exitProgram());
    const std::string firstLog = readFile(box_.defaultLog());
    const Settings firstSettings = storedSettings();
    ASSERT_EQ(firstSettings, firstRunSettings(addresses));

    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    // The question stays open while ticks fall due: none of them may start a pass (and ask
    // again) inside the waiting one.
    const auto question = op_->findWindow(QStringLiteral("Log File"), WindowLimit);
    ASSERT_TRUE(question) << "Ping with the log present asked nothing";
    EXPECT_TRUE(shoot(*question, "overwrite-question"));
    std::this_thread::sleep_for(QuestionLeftOpen);
    ASSERT_TRUE(window_->answerBox(QStringLiteral("Log File"), QStringLiteral("n")))
        << "the question did not go away after No (or was asked twice)";
    ASSERT_TRUE(waitUntil(
        [&] {
            return loggedEntries(box_.defaultLog()) >=
                   parseLog(firstLog).runs[0].entries.size() + 2 * addresses.size();
        },
        PassLimit))
        << output();
    ASSERT_TRUE(stopAndSettle(box_.defaultLog()));
    ASSERT_TRUE(exitProgram());

    const std::string bytes = readFile(box_.defaultLog());
    ASSERT_EQ(bytes.compare(0, firstLog.size(), firstLog), 0) << "No must keep the old lines";
    ASSERT_EQ(bytes.compare(firstLog.size(), 2, "\r\n"), 0) << "an empty line before the header";
    const ParsedLog log = parseLog(bytes);
    ASSERT_EQ(log.problem, "");
    ASSERT_EQ(log.runs.size(), 2u);
    EXPECT_TRUE(log.runs[1].loggingTotal) << log.runs[1].header;
    expectWholePassesInListOrder(log.runs[1], addresses, 2);
    // A saving Exit writes back what was loaded: every setting came back unchanged.
    EXPECT_EQ(storedSettings(), firstSettings);
}

TEST_F(OperatorRuns, RefusedStartWithAVanishedLogDirectoryThenSetPathAndStart) {
    const fs::path oldDir = box_.root() / "logs";
    const fs::path oldLog = oldDir / "Ping.Log";
    const fs::path newLog = box_.work() / "Ping.Log";
    fs::create_directories(oldDir);
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->addAddress(QString::fromLatin1(Loopback)));
    ASSERT_TRUE(window_->click(controls::chkLogTotal));
    ASSERT_TRUE(window_->setText(controls::txtLog, QString::fromStdString(oldLog.string())));
    ASSERT_TRUE(window_->click(controls::cmdSetLog));
    ASSERT_TRUE(exitProgram());
    ASSERT_EQ(storedSettings()["LogFilePath"], oldLog.string());
    fs::remove_all(oldDir);

    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    const auto refusal = op_->findWindow(QStringLiteral("Invalid directory"), WindowLimit);
    ASSERT_TRUE(refusal) << "Ping with a vanished log directory was not refused";
    EXPECT_TRUE(shoot(*refusal, "invalid-directory"));
    ASSERT_TRUE(window_->answerBox(QStringLiteral("Invalid directory"), QStringLiteral("Return")));
    ASSERT_TRUE(window_->rest());
    EXPECT_TRUE(shoot(window_->id(), "path-error-notice"));
    EXPECT_FALSE(fs::exists(oldDir)) << "a refused start must not create anything";

    ASSERT_TRUE(window_->setText(controls::txtLog, QString::fromStdString(newLog.string())));
    ASSERT_TRUE(window_->click(controls::cmdSetLog));
    ASSERT_TRUE(window_->rest());
    EXPECT_TRUE(shoot(window_->id(), "path-set"));
    // Minutes, 5: the first pass runs at once, the next would come minutes later.
    ASSERT_NO_FATAL_FAILURE(pingForPasses(newLog, 1, 1));
    ASSERT_TRUE(exitProgram());

    const ParsedLog log = parseLog(readFile(newLog));
    ASSERT_EQ(log.problem, "");
    ASSERT_EQ(log.runs.size(), 1u);
    expectWholePassesInListOrder(log.runs[0], {Loopback}, 1);
    EXPECT_FALSE(fs::exists(oldDir));
    EXPECT_EQ(storedSettings()["LogFilePath"], newLog.string());
}

TEST_F(OperatorRuns, ScreenshotsOfTheWindowThePanelHiddenTheHelpAndTheSchedule) {
    // With a host that never answers where this machine can make one, so that the picture
    // shows a failure line too.
    const std::string second = silentHost().value_or("127.0.0.2");
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(window_->addAddress(QString::fromLatin1(Loopback)));
    ASSERT_TRUE(window_->addAddress(QString::fromStdString(second)));
    ASSERT_TRUE(window_->click(controls::chkLogTotal));
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    ASSERT_TRUE(waitUntil([&] { return loggedEntries(box_.defaultLog()) >= 2; }, PassLimit));
    ASSERT_TRUE(window_->rest());
    EXPECT_TRUE(shoot(window_->id(), "main-window"));
    const int menu = window_->menuBarHeight();
    const auto full = window_->geometry();
    ASSERT_TRUE(full);
    EXPECT_EQ(full->width, controls::ClientWidthPx);
    EXPECT_EQ(full->height, menu + controls::FullClientHeightPx);

    ASSERT_TRUE(window_->click(controls::cmdSettings));
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto g = window_->geometry();
            return g && g->height == menu + controls::ShortClientHeightPx;
        },
        WindowLimit))
        << "Hide Settings did not shorten the window";
    ASSERT_TRUE(window_->rest());
    EXPECT_TRUE(shoot(window_->id(), "panel-hidden"));
    ASSERT_TRUE(window_->click(controls::cmdSettings));
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto g = window_->geometry();
            return g && g->height == menu + controls::FullClientHeightPx;
        },
        WindowLimit))
        << "Show Settings did not bring the panel back";
    ASSERT_TRUE(stopAndSettle(box_.defaultLog()));

    // Resting on Exit shows its help below the pointer within about a second.
    ASSERT_TRUE(op_->moveTo(window_->id(), centreX(controls::cmdExit),
                            window_->menuBarHeight() + centreY(controls::cmdExit)));
    EXPECT_TRUE(
        waitUntil([&] { return op_->visibleWindowsOf(program_->pid()).size() == 2; }, WindowLimit))
        << "no help pop-up over Exit";
    EXPECT_TRUE(shoot(QStringLiteral("root"), "help-tooltip"));

    const auto dialog = window_->openSchedule();
    ASSERT_TRUE(dialog) << "File > Unattended opened no \"Schedule\" dialog";
    EXPECT_TRUE(shoot(*dialog, "schedule"));
    ASSERT_TRUE(op_->click(*dialog, centreX(schedule::cmdCancel), centreY(schedule::cmdCancel)));
    ASSERT_TRUE(
        waitUntil([&] { return !op_->windowNow(QStringLiteral("Schedule")); }, WindowLimit));
    ASSERT_TRUE(exitProgram());
}

} // namespace
} // namespace ew::e2e
