// Monitoring as the operator runs it for hours: the unattended range set in the schedule
// dialog keeps the pings away, and Exit in the middle of monitoring ends the program at once
// with the settings saved and only whole passes in the log.

#include "e2e/E2eFixture.h"

#include <QTime>

#include <string>
#include <thread>
#include <vector>

namespace ew::e2e {
namespace {

constexpr auto PassLimit = 60s;
// Several ticks of a one-second interval: a pass would have run by then.
constexpr auto NoPassWindow = 4s;
// The range typed below: 12 AM (hour 0) up to 11 PM (hour 23).
constexpr int LastExcludedHour = 22;

class MonitoringRuns : public E2eTest {};

TEST_F(MonitoringRuns, UnattendedRangeSetInTheScheduleKeepsThePingsAway) {
    if (QTime::currentTime().hour() > LastExcludedHour)
        GTEST_SKIP() << "no range of the dialog covers 23:00 to 23:59; run again after midnight";
    ASSERT_TRUE(startProgram());
    const auto dialog = window_->openSchedule();
    ASSERT_TRUE(dialog) << "File > Unattended opened no \"Schedule\" dialog";
    // From stays at 12 (AM, hour 0); To becomes 11 PM (hour 23); the mode is enabled.
    ASSERT_TRUE(op_->click(*dialog, centreX(schedule::txtTo), centreY(schedule::txtTo)));
    ASSERT_TRUE(op_->key(QStringLiteral("ctrl+a")) && op_->type(QStringLiteral("11")));
    ASSERT_TRUE(op_->click(*dialog, centreX(schedule::chkPMTo), centreY(schedule::chkPMTo)));
    ASSERT_TRUE(
        op_->click(*dialog, centreX(schedule::chkUnattended), centreY(schedule::chkUnattended)));
    EXPECT_TRUE(shoot(*dialog, "schedule-enabled"));
    ASSERT_TRUE(op_->click(*dialog, centreX(schedule::cmdOK), centreY(schedule::cmdOK)));
    ASSERT_TRUE(waitUntil([&] { return !op_->windowNow(QStringLiteral("Schedule")); }, WindowLimit))
        << "O.K. left the schedule dialog open";

    ASSERT_TRUE(window_->addAddress(QStringLiteral("127.0.0.1")));
    ASSERT_TRUE(window_->click(controls::chkLogTotal));
    ASSERT_TRUE(window_->click(controls::optSeconds));
    ASSERT_TRUE(window_->setText(controls::txtInterval, QStringLiteral("1")));
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    std::this_thread::sleep_for(NoPassWindow);
    EXPECT_EQ(loggedEntries(box_.defaultLog()), 0u) << "a pass ran inside the unattended range";
    ASSERT_TRUE(stopAndSettle(box_.defaultLog()));
    ASSERT_TRUE(exitProgram());

    const auto stored = parseIniGroup(readFile(box_.settingsFile()), "EchoWarden");
    ASSERT_TRUE(stored);
    EXPECT_EQ(storedValue(*stored, "Unattended"), "True");
    EXPECT_EQ(storedValue(*stored, "UnattendedFrom"), "0");
    EXPECT_EQ(storedValue(*stored, "UnattendedTo"), "23");
}

TEST_F(MonitoringRuns, ExitWhileMonitoringEndsAtOnceSavesAndLeavesWholePasses) {
    std::vector<std::string> addresses{"127.0.0.1"};
    if (const auto silent = silentHost())
        addresses.push_back(*silent);
    ASSERT_TRUE(startProgram());
    for (const std::string& a : addresses)
        ASSERT_TRUE(window_->addAddress(QString::fromStdString(a)));
    ASSERT_TRUE(window_->click(controls::chkLogTotal));
    ASSERT_TRUE(window_->click(controls::optSeconds));
    ASSERT_TRUE(window_->setText(controls::txtInterval, QStringLiteral("1")));
    ASSERT_TRUE(window_->setText(controls::txtTimeout, QStringLiteral("1")));
    ASSERT_TRUE(window_->click(controls::cmdStartPing));
    ASSERT_TRUE(
        waitUntil([&] { return loggedEntries(box_.defaultLog()) >= addresses.size(); }, PassLimit))
        << output();
    ASSERT_TRUE(exitProgram()) << "Exit while monitoring";

    const ParsedLog log = parseLog(readFile(box_.defaultLog()));
    ASSERT_EQ(log.problem, "");
    ASSERT_EQ(log.runs.size(), 1u);
    EXPECT_EQ(log.runs[0].entries.size() % addresses.size(), 0u) << "Exit cut a pass short";
    const auto stored = parseIniGroup(readFile(box_.settingsFile()), "EchoWarden");
    ASSERT_TRUE(stored);
    std::string list;
    for (const std::string& a : addresses)
        list += a + ",";
    EXPECT_EQ(storedValue(*stored, "IPList"), list);
    EXPECT_EQ(storedValue(*stored, "IntervalSeconds"), "True");
    EXPECT_EQ(storedValue(*stored, "Interval"), "1");
    EXPECT_EQ(storedValue(*stored, "Timeout"), "1");
}

} // namespace
} // namespace ew::e2e
