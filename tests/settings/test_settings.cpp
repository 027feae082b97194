#include "settings/Settings.h"
#include "settings/SettingsCodec.h"
#include "support/MainWindowFixture.h"

#include <QTemporaryFile>

namespace ew::test {
namespace {

using SettingsRules = MainWindowTest;

TEST_F(SettingsRules, SaveAndRestartKeepEveryControlAndFailuresAreToldOnce) {
    load();
    ui().lstIPList->addItems({"127.0.0.1", "server2"});
    ui().txtLog->setText("/var/tmp/run.log");
    ui().txtNumBytes->setText("512");
    ui().optSeconds->setChecked(true);
    ui().txtInterval->setText("30");
    setCheckValue(*ui().chkLogTotal, 1);
    ui().mnuSSave->setChecked(false);
    ui().mnuUnattended->setChecked(true);
    ui().mnuPingAtOnce->setChecked(true);
    ui().mnuNotify->setChecked(false);
    ui().mnuKeepHistory->setChecked(false);
    ui().mnuSlowAbove->setData(150);
    const QString saved = shown(ui());
    fakes.store.writes.clear();
    QTest::mouseClick(ui().cmdSave, Qt::LeftButton);
    EXPECT_EQ(fakes.store.writes.join(' '), // every key, in order
              QStringLiteral("SaveSettingsOnExit=False Unattended=True PingWithBytes=512 Timeout=3 "
                             "IntervalMinutes=False IntervalSeconds=True Interval=30 "
                             "EnableLoggingTotal=1 EnableLoggingFailed=1 "
                             "LogFilePath=/var/tmp/run.log Beep=0 Attempts=1 IntervalTenths=False "
                             "PingAtOnce=True NotifyStateChanges=False KeepHistory=False "
                             "SlowAboveMs=150 ServeMetrics=False IPList=127.0.0.1,server2,"));
    restart();
    EXPECT_EQ(shown(ui()), saved);
    EXPECT_FALSE(ui().mnuKeepHistory->isChecked());
    EXPECT_EQ(ui().mnuSlowAbove->data(), 150);
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    const FakeMessageBoxes::Box box{
        "The settings could not be saved to /fake/config/8R1/8R1.ini.\rReason: the file is "
        "read-only.",
        "Error saving settings", MsgIcon::Critical, MsgButtons::Ok};
    for (const bool fails : {true, true, false, true}) {
        fakes.store.failWrites = fails;
        EXPECT_EQ(window->settings().cmdSave_Click(), !fails);
    }
    // Open Log with no editor to start.
    QTemporaryFile log;
    ASSERT_TRUE(log.open());
    state().logPath = log.fileName();
    fakes.launcher.succeed = false;
    ui().cmdOpenLog->click();
    EXPECT_EQ(fakes.messages.shown,
              std::vector({box, box,
                           FakeMessageBoxes::Box{
                               "No text editor could be started to show the log file " +
                                   log.fileName() + ".\rOpen it with an editor of your choice.",
                               "Error opening log", MsgIcon::Critical, MsgButtons::Ok}}));
    fakes.store.writes.clear();
    window->cmdExit_Click(); // save on exit unchecked: nothing written
    EXPECT_TRUE(fakes.store.writes.isEmpty());
}

TEST_F(SettingsRules, StoredTextsConvertOrReadAsMissingAndAListNeedsNoEscaping) {
    const QString stored = QStringLiteral("IntervalSeconds=tRUE Beep=2 Unattended=yes Interval= "
                                          "SaveSettingsOnExit=perhaps EnableLoggingTotal=99999 "
                                          "PingWithBytes= UnattendedFrom=70000");
    for (const QString& pair : stored.split(' '))
        fakes.store.put(pair.section('=', 0, 0), pair.section('=', 1));
    fakes.store.put(QStringLiteral("IPList"), QStringLiteral("a,,  ,b\r\n,c"));
    load();
    // Empty numbers end as the loader's fallbacks; what does not convert reads as missing.
    EXPECT_EQ(shown(ui()), LogFile::defaultLogPath() + " | 16 3 2 1 | 010 | 200 | 1001 | a b c");
    EXPECT_EQ(state().unattendedFromHour, 0);
    EXPECT_EQ(encodeList({"a,b", "c"}), QStringLiteral("a,b,c,"));
}

} // namespace
} // namespace ew::test
