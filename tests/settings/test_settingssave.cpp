#include "core/Convert.h"
#include "monitor/Monitor.h"
#include "panel/ControlStates.h"
#include "settings/Settings.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "support/SettingsTestUtil.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace ew::test {
namespace {

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
    setCheckValue(*ui().chkLogTotal, 1);
    ui().mnuSSave->setChecked(false);
    ui().mnuUnattended->setChecked(true);
    const ShownSettings saved{logPath, {"512", "7", "30", "4"}, {0, 1, 0}, {1, 1, 1},
                              {0, 1},  {"10.0.0.1", "server2"}};
    ASSERT_EQ(shown(ui()), saved);
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
    EXPECT_EQ(shown(ui()), saved);
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    EXPECT_TRUE(ui().cmdClear->isEnabled());
}

TEST_F(SettingsSave, TenthSecondsAndASpinnerSizedPacketSurviveARestart) {
    load();
    ui().txtNumBytes->setText(QStringLiteral("1024"));
    ui().optMilSeconds->setChecked(true);
    const ShownSettings saved = shown(ui());
    ASSERT_EQ(saved.options, QList<int>({0, 0, 1}));
    ASSERT_TRUE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.store.value(keys::IntervalTenths), QStringLiteral("True"));
    restart();
    EXPECT_EQ(shown(ui()), saved);
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
    EXPECT_EQ(ipList(), GetParam().restored);
}

INSTANTIATE_TEST_SUITE_P(Lists, AddressListStore,
                         ::testing::Values(ListCase{{"10.0.0.1", "server2"},
                                                    "10.0.0.1,server2,",
                                                    {"10.0.0.1", "server2"}},
                                           ListCase{{}, "", {}},
                                           ListCase{{"a,b"}, "a,b,", {"a", "b"}}));

TEST_F(SettingsSave, SaveOnExitUncheckedIsStoredAsFalseAndExitThenWritesNothing) {
    ui().mnuSSave->setChecked(true);
    ui().mnuSSave->trigger(); // while the settings load, the item keeps its check mark
    EXPECT_TRUE(ui().mnuSSave->isChecked());
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

TEST_F(SettingsSave, RestoreDefaultsSetsItsValuesDisablesItselfAndWritesNothing) {
    load();
    ui().lstIPList->addItem(QStringLiteral("host"));
    ui().txtAttempts->setText(QStringLiteral("3"));
    ui().txtInterval->setText(QStringLiteral("40"));
    ui().txtNumBytes->setText(QStringLiteral("64"));
    ui().optMilSeconds->setChecked(true); // cleared through the minutes rule
    ui().txtTimeout->setText(QStringLiteral("9"));
    ui().mnuSSave->setChecked(false);
    ui().mnuUnattended->setChecked(true);
    ui().txtLog->setText(logDir.filePath(QStringLiteral("kept.log")));
    window->controlStates().UpdateRestoreMenu();
    ASSERT_TRUE(ui().mnuRestore->isEnabled());

    ui().mnuRestore->trigger();
    // The log-all box, the path, the list and unattended mode stay as they were.
    const QString kept = logDir.filePath(QStringLiteral("kept.log"));
    EXPECT_EQ(shown(ui()),
              (ShownSettings{kept, {"16", "3", "5", "1"}, {1, 0, 0}, {1, 0, 1}, {1, 1}, {"host"}}));
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
    EXPECT_TRUE(fakes.store.writes.isEmpty());
    EXPECT_EQ(fakes.store.flushes, 0);
}

TEST_F(SettingsSave, AReReadKeepsTheListDisablesTheEditButtonsAndStopsOnlyWhenIdle) {
    fakes.store.put(keys::IPList, QStringLiteral("127.0.0.1,server2,"));
    load();
    ui().lstIPList->setCurrentRow(1);
    ui().txtIPAddress->setText(QStringLiteral("typed"));
    ui().cmdSetLog->setEnabled(true);
    ui().cmdStopPing->setEnabled(true);
    ASSERT_TRUE(ui().cmdRemove->isEnabled());
    ASSERT_TRUE(ui().cmdAdd->isEnabled());
    // The schedule dialog saves all settings, stores its own keys and confirms.
    ASSERT_TRUE(window->settings().cmdSave_Click());
    fakes.store.put(keys::Unattended, QStringLiteral("True"));
    fakes.store.put(keys::UnattendedFrom, QStringLiteral("22"));
    fakes.store.put(keys::UnattendedTo, QStringLiteral("6"));

    window->settings().ReadSettings();

    EXPECT_EQ(ipList(), (QStringList{"127.0.0.1", "server2"}));
    EXPECT_FALSE(ui().cmdSetLog->isEnabled());
    EXPECT_FALSE(ui().cmdRemove->isEnabled());
    EXPECT_FALSE(ui().cmdAdd->isEnabled());
    EXPECT_FALSE(ui().cmdStopPing->isEnabled());
    EXPECT_TRUE(ui().mnuUnattended->isChecked());
    EXPECT_EQ(state().unattendedFromHour, 22);
    EXPECT_EQ(state().unattendedToHour, 6);

    // While monitoring, Stop stays the operator's way out.
    QTest::mouseClick(ui().cmdStartPing, Qt::LeftButton);
    ASSERT_TRUE(window->monitor().timer1().isActive());
    window->settings().ReadSettings();
    EXPECT_TRUE(ui().cmdStopPing->isEnabled());
    EXPECT_EQ(ui().lstIPList->count(), 2);
    QTest::mouseClick(ui().cmdStopPing, Qt::LeftButton);
    EXPECT_FALSE(window->monitor().timer1().isActive());
}

TEST_F(SettingsSave, AStoreThatCannotBeWrittenIsReportedOncePerFailureStreak) {
    load();
    fakes.store.failWrites = true;
    QTest::mouseClick(ui().cmdSave, Qt::LeftButton);
    const FakeMessageBoxes::Box box{QStringLiteral("The settings could not be saved to "
                                                   "/fake/config/8R1/8R1.ini.\rReason: the file "
                                                   "is read-only."),
                                    QStringLiteral("Error saving settings"), MsgIcon::Critical,
                                    MsgButtons::Ok};
    EXPECT_EQ(fakes.messages.shown, std::vector{box});

    EXPECT_FALSE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.messages.shown.size(), 1u);
    fakes.store.failWrites = false;
    EXPECT_TRUE(window->settings().cmdSave_Click());
    fakes.store.failWrites = true;
    EXPECT_FALSE(window->settings().cmdSave_Click());
    EXPECT_EQ(fakes.messages.shown, std::vector({box, box}));
    // Nothing else is lost: the controls keep their values and Exit still ends the program.
    EXPECT_EQ(ui().txtNumBytes->text(), QStringLiteral("16"));
    window->cmdExit_Click();
    EXPECT_EQ(endRequests, 1);
}

} // namespace
} // namespace ew::test
