#include "app/ControlStates.h"
#include "app/Convert.h"
#include "monitor/Monitor.h"
#include "settings/Settings.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace ew::test {
namespace {

QStringList items(const QListWidget& list) {
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << list.item(i)->text();
    return out;
}

class SettingsSave : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        ASSERT_TRUE(logDir.isValid());
    }
    QTemporaryDir logDir;
};

TEST_F(SettingsSave, WritesEveryKeyInItsOrderAndARestartRestoresEveryControl) {
    load();
    ui().lstIPList->addItems({QStringLiteral("10.0.0.1"), QStringLiteral("server2")});
    const QString logPath = logDir.filePath(QStringLiteral("run.log"));
    ui().txtLog->setText(logPath);
    ui().txtNumBytes->setText(QStringLiteral("512"));
    ui().txtTimeout->setText(QStringLiteral("7"));
    ui().optSeconds->setChecked(true);
    ui().txtInterval->setText(QStringLiteral("30"));
    setCheckValue(*ui().chkBeep, 1);
    ui().txtAttempts->setText(QStringLiteral("4"));
    setCheckValue(*ui().chkLogFailed, 1);
    setCheckValue(*ui().chkLogTotal, 1);
    ui().mnuSSave->setChecked(false);
    ui().mnuUnattended->setChecked(true);
    fakes.store.writes.clear();

    QTest::mouseClick(ui().cmdSave, Qt::LeftButton);

    EXPECT_EQ(
        fakes.store.writes,
        (QStringList{"SaveSettingsOnExit=False", "Unattended=True", "PingWithBytes=512",
                     "Timeout=7", "IntervalMinutes=False", "IntervalSeconds=True", "Interval=30",
                     "EnableLoggingTotal=1", "EnableLoggingFailed=1", "LogFilePath=" + logPath,
                     "Beep=1", "Attempts=4", "IntervalTenths=False", "IPList=10.0.0.1,server2,"}));
    EXPECT_EQ(fakes.store.flushes, 1);
    EXPECT_TRUE(fakes.messages.shown.empty());

    restart();
    EXPECT_EQ(items(*ui().lstIPList), (QStringList{"10.0.0.1", "server2"}));
    EXPECT_EQ(ui().txtLog->text(), logPath);
    EXPECT_EQ(ui().txtNumBytes->text(), QStringLiteral("512"));
    EXPECT_EQ(ui().txtTimeout->text(), QStringLiteral("7"));
    EXPECT_FALSE(ui().optMinutes->isChecked());
    EXPECT_TRUE(ui().optSeconds->isChecked());
    EXPECT_FALSE(ui().optMilSeconds->isChecked());
    EXPECT_EQ(ui().txtInterval->text(), QStringLiteral("30"));
    EXPECT_EQ(checkValue(*ui().chkBeep), 1);
    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("4"));
    EXPECT_EQ(checkValue(*ui().chkLogTotal), 1);
    EXPECT_EQ(checkValue(*ui().chkLogFailed), 1);
    EXPECT_FALSE(ui().mnuSSave->isChecked());
    EXPECT_TRUE(ui().mnuUnattended->isChecked());
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdClear->isEnabled());
}

TEST_F(SettingsSave, TenthSecondsAndASpinnerSizedPacketSurviveARestart) {
    load();
    ui().txtNumBytes->setText(QStringLiteral("1024"));
    ui().optMilSeconds->setChecked(true);
    ASSERT_TRUE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.store.value(keys::PingWithBytes), QStringLiteral("1024"));
    EXPECT_EQ(fakes.store.value(keys::IntervalTenths), QStringLiteral("True"));
    restart();
    EXPECT_EQ(ui().txtNumBytes->text(), QStringLiteral("1024"));
    EXPECT_TRUE(ui().optMilSeconds->isChecked());
    EXPECT_FALSE(ui().optMinutes->isChecked());
    EXPECT_FALSE(ui().optSeconds->isChecked());
}

struct ListCase {
    QStringList typed;
    QString stored;
    QStringList restored;
};

class AddressListStore : public MainWindowTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(AddressListStore, StoredAsOneTextAndReadBackAfterARestart) {
    load();
    ui().lstIPList->addItems(GetParam().typed);
    ASSERT_TRUE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.store.value(keys::IPList), GetParam().stored);
    restart();
    EXPECT_EQ(items(*ui().lstIPList), GetParam().restored);
}

INSTANTIATE_TEST_SUITE_P(Lists, AddressListStore,
                         ::testing::Values(ListCase{{"10.0.0.1", "server2"},
                                                    "10.0.0.1,server2,",
                                                    {"10.0.0.1", "server2"}},
                                           ListCase{{}, "", {}},
                                           ListCase{{"a,b"}, "a,b,", {"a", "b"}}));

TEST_F(SettingsSave, SaveOnExitUncheckedIsStoredAsFalseAndExitThenWritesNothing) {
    load();
    ui().mnuSSave->trigger();
    EXPECT_FALSE(ui().mnuSSave->isChecked());
    // The toggle itself writes nothing and leaves Restore Defaults alone.
    EXPECT_TRUE(fakes.store.writes.isEmpty());
    ui().mnuRestore->setEnabled(false);
    ui().mnuSSave->trigger();
    ui().mnuSSave->trigger();
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
    EXPECT_FALSE(ui().mnuSSave->isChecked());

    ASSERT_TRUE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.store.value(keys::SaveSettingsOnExit), QStringLiteral("False"));
    restart();
    EXPECT_FALSE(ui().mnuSSave->isChecked());
    fakes.store.writes.clear();
    window->cmdExit_Click();
    EXPECT_EQ(endRequests, 1);
    EXPECT_TRUE(fakes.store.writes.isEmpty());
}

TEST_F(SettingsSave, SaveOnExitToggleDoesNothingWhileTheSettingsLoad) {
    ASSERT_EQ(state().stateFlag, StateFlag::Dont);
    ui().mnuSSave->setChecked(true);
    ui().mnuSSave->trigger();
    EXPECT_TRUE(ui().mnuSSave->isChecked());
    window->settings().mnuSSave_Click();
    EXPECT_TRUE(ui().mnuSSave->isChecked());
}

TEST_F(SettingsSave, RestoreDefaultsSetsItsValuesDisablesItselfAndWritesNothing) {
    load();
    ui().lstIPList->addItem(QStringLiteral("host"));
    ui().txtAttempts->setText(QStringLiteral("3"));
    ui().txtInterval->setText(QStringLiteral("40"));
    ui().txtNumBytes->setText(QStringLiteral("64"));
    ui().optSeconds->setChecked(true);
    ui().txtTimeout->setText(QStringLiteral("9"));
    ui().mnuSSave->setChecked(false);
    ui().mnuUnattended->setChecked(true);
    ui().txtLog->setText(logDir.filePath(QStringLiteral("kept.log")));
    window->controlStates().UpdateRestoreMenu();
    ASSERT_TRUE(ui().mnuRestore->isEnabled());

    ui().mnuRestore->trigger();

    EXPECT_EQ(ui().txtAttempts->text(), QStringLiteral("1"));
    EXPECT_EQ(ui().txtInterval->text(), QStringLiteral("5"));
    EXPECT_EQ(ui().txtNumBytes->text(), QStringLiteral("16"));
    EXPECT_TRUE(ui().optMinutes->isChecked());
    EXPECT_FALSE(ui().optSeconds->isChecked());
    EXPECT_EQ(ui().txtTimeout->text(), QStringLiteral("3"));
    EXPECT_EQ(checkValue(*ui().chkBeep), 1);
    EXPECT_EQ(checkValue(*ui().chkLogFailed), 1);
    EXPECT_TRUE(ui().mnuSSave->isChecked());
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
    // Untouched: the log-all box, the path, the list and unattended mode.
    EXPECT_EQ(checkValue(*ui().chkLogTotal), 0);
    EXPECT_EQ(ui().txtLog->text(), logDir.filePath(QStringLiteral("kept.log")));
    EXPECT_EQ(ui().lstIPList->count(), 1);
    EXPECT_TRUE(ui().mnuUnattended->isChecked());
    EXPECT_TRUE(fakes.store.writes.isEmpty());
    EXPECT_EQ(fakes.store.flushes, 0);
}

TEST_F(SettingsSave, RestoreDefaultsClearsTenthSecondsThroughTheMinutesRule) {
    load();
    ui().optMilSeconds->setChecked(true);
    ui().mnuRestore->trigger();
    EXPECT_TRUE(ui().optMinutes->isChecked());
    EXPECT_FALSE(ui().optMilSeconds->isChecked());
}

TEST_F(SettingsSave, AReReadKeepsTheListAndDisablesTheEditButtonsAndStopWhenIdle) {
    fakes.store.put(keys::IPList, QStringLiteral("10.0.0.1,server2,"));
    load();
    ui().lstIPList->setCurrentRow(1);
    ui().txtIPAddress->setText(QStringLiteral("typed"));
    ui().cmdSetLog->setEnabled(true);
    ui().cmdStopPing->setEnabled(true);
    ASSERT_TRUE(ui().cmdRemove->isEnabled());
    ASSERT_TRUE(ui().cmdAdd->isEnabled());
    // The schedule dialog stores its keys and confirms.
    fakes.store.put(keys::Unattended, QStringLiteral("True"));
    fakes.store.put(keys::UnattendedFrom, QStringLiteral("22"));
    fakes.store.put(keys::UnattendedTo, QStringLiteral("6"));

    window->settings().ReadSettings();

    EXPECT_EQ(items(*ui().lstIPList), (QStringList{"10.0.0.1", "server2"}));
    EXPECT_FALSE(ui().cmdSetLog->isEnabled());
    EXPECT_FALSE(ui().cmdRemove->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    EXPECT_FALSE(ui().cmdStopPing->isEnabled());
    EXPECT_TRUE(ui().mnuUnattended->isChecked());
    EXPECT_EQ(state().unattendedFromHour, 22);
    EXPECT_EQ(state().unattendedToHour, 6);
}

TEST_F(SettingsSave, AReReadWhileTheMonitorRunsLeavesStopEnabled) {
    load();
    // The monitor's state while it runs: its interval timer active, Stop enabled.
    window->monitor().timer1().start(60 * 60 * 1000);
    ui().cmdStartPing->setEnabled(false);
    ui().cmdStopPing->setEnabled(true);
    window->settings().ReadSettings();
    EXPECT_TRUE(ui().cmdStopPing->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    window->monitor().timer1().stop();
}

TEST_F(SettingsSave, AReReadAfterARealStartLeavesStopEnabled) {
    fakes.store.put(keys::IPList, QStringLiteral("127.0.0.1,"));
    load();
    QTest::mouseClick(ui().cmdStartPing, Qt::LeftButton);
    ASSERT_TRUE(window->monitor().timer1().isActive());
    window->settings().ReadSettings();
    EXPECT_TRUE(ui().cmdStopPing->isEnabled());
    QTest::mouseClick(ui().cmdStopPing, Qt::LeftButton);
    EXPECT_FALSE(window->monitor().timer1().isActive());
}

TEST_F(SettingsSave, AStoreThatCannotBeWrittenIsReportedOncePerFailureStreak) {
    load();
    fakes.store.failWrites = true;
    QTest::mouseClick(ui().cmdSave, Qt::LeftButton);
    ASSERT_EQ(fakes.messages.shown.size(), 1u);
    const auto& box = fakes.messages.shown.front();
    EXPECT_EQ(box.title, QStringLiteral("Error saving settings"));
    EXPECT_EQ(box.text,
              QStringLiteral("The settings could not be saved to "
                             "/fake/config/8R1/8R1.ini.\rReason: the file is read-only."));
    EXPECT_EQ(box.icon, MsgIcon::Critical);
    EXPECT_EQ(box.buttons, MsgButtons::Ok);

    EXPECT_FALSE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.messages.shown.size(), 1u);
    fakes.store.failWrites = false;
    EXPECT_TRUE(window->settings().cmdSave_Click());
    fakes.store.failWrites = true;
    EXPECT_FALSE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.messages.shown.size(), 2u);
    // Nothing else is lost: the controls keep their values and Exit still ends the program.
    EXPECT_EQ(ui().txtNumBytes->text(), QStringLiteral("16"));
    window->cmdExit_Click();
    EXPECT_EQ(endRequests, 1);
}

} // namespace
} // namespace ew::test
