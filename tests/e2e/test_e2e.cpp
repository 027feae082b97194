// The whole program as an operator uses it: the real echowarden under a private X server,
// worked only with the mouse and the keyboard, judged only by what it leaves on disk and
// shows on the screen.

#include "e2e/E2eFixture.h"
#include "platform/echo/echoping.h"

#include <QDate>
#include <QLocale>
#include <QTime>

#include <thread>

namespace ew::e2e {
namespace {

constexpr const char* Loopback = "127.0.0.1";
constexpr auto PassLimit = 60s;
constexpr std::int16_t ProbeTimeoutMs = 1000;
// Loopback answers at once; a longer round trip than the 1 s time-out cannot answer that request.
constexpr long LoopbackReplyLimitMs = 1000;
// Long enough for a few ticks of a one-second interval to fall due.
constexpr auto QuestionLeftOpen = 2s;
constexpr auto NoPassWindow = 4s;
// The unattended range typed below, 12 AM (hour 0) to 11 PM (hour 23), leaves 23:00 on out.
constexpr int LastExcludedHour = 22;

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

    // Loopback, and a host that never answers where this machine can make one.
    std::vector<std::string> addresses() {
        std::vector<std::string> list{Loopback};
        if (const auto silent = silentHost())
            list.push_back(*silent);
        return list;
    }

    // The schedule confirmed as it stands, so that every key of the store gets written, then
    // the monitoring with beep on failure and 32 bytes.
    void firstRunSetUp(const std::vector<std::string>& addresses) {
        ASSERT_TRUE(closeSchedule(openSchedule(), schedule::cmdOK)) << "File > Unattended, O.K.";
        ASSERT_NO_FATAL_FAILURE(setUpMonitoring(addresses));
        ASSERT_TRUE(click(controls::chkBeep));
        ASSERT_TRUE(setText(controls::txtNumBytes, "32"));
    }

    // The settings file as the first run leaves it: every key of the store.
    Settings firstRunSettings(const std::vector<std::string>& addresses) const {
        Settings s = *parseIniGroup("[EchoWarden]\nUnattendedTo=0\nUnattendedFrom=0\n"
                                    "SaveSettingsOnExit=True\nUnattended=False\nPingWithBytes=32\n"
                                    "Timeout=1\nIntervalMinutes=False\nIntervalSeconds=True\n"
                                    "Interval=1\nBeep=1\nAttempts=1\nEnableLoggingTotal=1\n"
                                    "EnableLoggingFailed=1\nIntervalTenths=False\n",
                                    "EchoWarden");
        s["LogFilePath"] = box_.defaultLog().string();
        for (const std::string& a : addresses)
            s["IPList"] += a + ",";
        return s;
    }

    // Ping, wait for this many more passes in the log, Stop (and the log settles).
    void pingForPasses(const fs::path& log, std::size_t addresses, std::size_t passes) {
        const std::size_t before = loggedEntries(log);
        ASSERT_TRUE(click(controls::cmdStartPing));
        ASSERT_TRUE(
            waitUntil([&] { return loggedEntries(log) >= before + passes * addresses; }, PassLimit))
            << "fewer than " << passes << " passes were logged: " << output();
        ASSERT_TRUE(stopAndSettle(log));
    }
};

// The header names the day the run began (today, or yesterday when midnight has passed
// since) in the short date format of the program's locale (C).
bool headerDatedToday(const std::string& header) {
    const QDate today = QDate::currentDate();
    for (const QDate& day : {today, today.addDays(-1)}) {
        const std::string date = QLocale::c().toString(day, QLocale::ShortFormat).toStdString();
        if (header.starts_with("Started log on " + date + " at "))
            return true;
    }
    return false;
}

// Every entry of every pass, in list order: a reply from loopback, a failure from the silent
// host; Stop and Exit may cut the last pass short.
void expectWholePassesInListOrder(const LogRun& run, const std::vector<std::string>& addresses,
                                  std::size_t minPasses) {
    ASSERT_GE(run.entries.size(), minPasses * addresses.size());
    for (std::size_t i = 0; i < run.entries.size(); ++i) {
        const LogEntry& e = run.entries[i];
        ASSERT_EQ(e.address, addresses[i % addresses.size()]) << "entry " << i;
        EXPECT_TRUE(std::regex_match(e.time, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}"))) << e.time;
        EXPECT_EQ(e.reply, e.address == Loopback) << "entry " << i;
        if (e.reply) {
            EXPECT_GE(e.roundTripMs, 0);
            EXPECT_LE(e.roundTripMs, LoopbackReplyLimitMs);
        }
    }
}

// The first run logs every pass in list order and Exit stores every setting; the second run
// restores them all, asks about the log present (No appends) and is left while monitoring.
TEST_F(OperatorRuns, FirstRunLogsAndStoresEverythingSecondRunRestoresItAndAppendsAfterNo) {
    const auto addresses = this->addresses();
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(firstRunSetUp(addresses));
    ASSERT_NO_FATAL_FAILURE(pingForPasses(box_.defaultLog(), addresses.size(), 3));
    ASSERT_TRUE(exitProgram());
    const std::string firstLog = readFile(box_.defaultLog());
    ParsedLog log = parseLog(firstLog);
    ASSERT_EQ(log.problem, "");
    ASSERT_EQ(log.runs.size(), 1u) << "one header for one monitoring run";
    EXPECT_TRUE(log.runs[0].loggingTotal) << log.runs[0].header;
    EXPECT_TRUE(headerDatedToday(log.runs[0].header)) << log.runs[0].header;
    expectWholePassesInListOrder(log.runs[0], addresses, 3);
    const Settings firstSettings = storedSettings();
    ASSERT_EQ(firstSettings, firstRunSettings(addresses));

    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::cmdStartPing));
    // The question stays open while ticks fall due: none of them may start a pass (and ask
    // again) inside the waiting one.
    ASSERT_TRUE(op_->findWindow("Log File", WindowLimit))
        << "Ping with the log present asked nothing";
    std::this_thread::sleep_for(QuestionLeftOpen);
    ASSERT_TRUE(answerBox("Log File", "n", "overwrite-question"))
        << "the question did not go away after No (or was asked twice)";
    const std::size_t wanted = loggedEntries(box_.defaultLog()) + 2 * addresses.size();
    ASSERT_TRUE(waitUntil([&] { return loggedEntries(box_.defaultLog()) >= wanted; }, PassLimit))
        << output();
    // Exit in the middle of monitoring ends the program at once, between two passes.
    ASSERT_TRUE(exitProgram());

    const std::string bytes = readFile(box_.defaultLog());
    ASSERT_TRUE(bytes.starts_with(firstLog)) << "No must keep the old lines";
    ASSERT_EQ(bytes.compare(firstLog.size(), 2, "\r\n"), 0) << "an empty line before the header";
    log = parseLog(bytes);
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
    ASSERT_TRUE(addAddress(Loopback));
    ASSERT_TRUE(click(controls::chkLogTotal));
    ASSERT_TRUE(setText(controls::txtLog, qpath(oldLog)));
    ASSERT_TRUE(click(controls::cmdSetLog));
    ASSERT_TRUE(exitProgram());
    ASSERT_EQ(storedSettings()["LogFilePath"], oldLog.string());
    fs::remove_all(oldDir);

    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(answerBox("Invalid directory", "Return", "invalid-directory"))
        << "Ping with a vanished log directory was not refused";
    ASSERT_TRUE(rest());
    EXPECT_TRUE(shoot(window_, "path-error-notice"));
    EXPECT_FALSE(fs::exists(oldDir)) << "a refused start must not create anything";

    ASSERT_TRUE(setText(controls::txtLog, qpath(newLog)));
    ASSERT_TRUE(click(controls::cmdSetLog));
    ASSERT_TRUE(rest());
    EXPECT_TRUE(shoot(window_, "path-set"));
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

TEST_F(OperatorRuns, ScreenshotsOfTheWindowPanelHiddenHelpAndScheduleWhoseRangeKeepsPingsAway) {
    // With a host that never answers where this machine can make one, so that the picture
    // shows a failure line too.
    const std::string second = silentHost().value_or("127.0.0.2");
    ASSERT_TRUE(startProgram());
    ASSERT_NO_FATAL_FAILURE(setUpMonitoring({Loopback, second}));
    ASSERT_TRUE(click(controls::cmdStartPing));
    ASSERT_TRUE(waitUntil([&] { return loggedEntries(box_.defaultLog()) >= 2; }, PassLimit));
    const auto sizeBecomes = [&](int clientHeight) {
        const QSize wanted(controls::ClientWidthPx, menuBar_ + clientHeight);
        return waitUntil([&] { return op_->size(window_) == wanted; }, WindowLimit);
    };
    EXPECT_TRUE(sizeBecomes(controls::FullClientHeightPx)) << "the window's width";
    ASSERT_TRUE(rest());
    EXPECT_TRUE(shoot(window_, "main-window"));
    ASSERT_TRUE(click(controls::cmdSettings));
    EXPECT_TRUE(sizeBecomes(controls::ShortClientHeightPx)) << "Hide Settings did not shorten it";
    ASSERT_TRUE(rest());
    EXPECT_TRUE(shoot(window_, "panel-hidden"));
    ASSERT_TRUE(click(controls::cmdSettings));
    EXPECT_TRUE(sizeBecomes(controls::FullClientHeightPx)) << "Show Settings did not restore it";
    ASSERT_TRUE(stopAndSettle(box_.defaultLog()));

    // Resting on Exit shows its help below the pointer within about a second.
    ASSERT_TRUE(op_->moveTo(window_, at(controls::cmdExit)));
    EXPECT_TRUE(
        waitUntil([&] { return op_->visibleWindowsOf(program_->pid()).size() == 2; }, WindowLimit))
        << "no help pop-up over Exit";
    EXPECT_TRUE(shoot("root", "help-tooltip"));

    const auto dialog = openSchedule();
    ASSERT_TRUE(dialog) << "File > Unattended opened no \"Schedule\" dialog";
    EXPECT_TRUE(shoot(*dialog, "schedule"));
    if (QTime::currentTime().hour() > LastExcludedHour) {
        std::cout << "[ skipped  ] no range of the dialog covers 23:00 to 23:59\n";
        ASSERT_TRUE(closeSchedule(dialog, schedule::cmdCancel));
        return;
    }
    // From stays at 12 (AM, hour 0); To becomes 11 PM (hour 23); the mode is enabled.
    ASSERT_TRUE(op_->click(*dialog, centre(schedule::txtTo)));
    ASSERT_TRUE(op_->key("ctrl+a") && op_->type("11"));
    ASSERT_TRUE(op_->click(*dialog, centre(schedule::chkPMTo)));
    ASSERT_TRUE(op_->click(*dialog, centre(schedule::chkUnattended)));
    ASSERT_TRUE(closeSchedule(dialog, schedule::cmdOK)) << "O.K. left the schedule dialog open";
    const std::size_t before = loggedEntries(box_.defaultLog());
    ASSERT_TRUE(click(controls::cmdStartPing));
    std::this_thread::sleep_for(NoPassWindow);
    // A pass would have asked about the log present, or written to it.
    EXPECT_FALSE(op_->findWindow("Log File")) << "a pass ran inside the unattended range";
    EXPECT_EQ(loggedEntries(box_.defaultLog()), before) << "a pass ran inside the unattended range";
    ASSERT_TRUE(exitProgram());
    Settings stored = storedSettings();
    EXPECT_EQ(stored["Unattended"], "True");
    EXPECT_EQ(stored["UnattendedFrom"], "0");
    EXPECT_EQ(stored["UnattendedTo"], "23");
}

} // namespace
} // namespace ew::e2e
