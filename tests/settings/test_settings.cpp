#include "settings/Settings.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "support/SettingsTestUtil.h"

#include <QTest>

namespace ew::test {
namespace {

using SettingsRules = MainWindowTest;

TEST_F(SettingsRules, FirstRunShowsTheMissingValuesAndWritesNothing) {
    load();
    EXPECT_EQ(shown(ui()), firstRun());
    EXPECT_FALSE(ui().cmdStartPing->isEnabled() || ui().cmdClear->isEnabled());
    EXPECT_TRUE(ui().mnuRestore->isEnabled()); // beep and failed-log differ from the defaults
    EXPECT_EQ(state().stateFlag, StateFlag::Yes);
    EXPECT_EQ(state().askOverwrite, AskOverwrite::Yes);
    EXPECT_TRUE(fakes.store.writes.isEmpty());
    EXPECT_TRUE(fakes.messages.shown.empty());
}

TEST_F(SettingsRules, SaveWritesEveryKeyInOrderAndARestartRestoresEveryControl) {
    load();
    ui().lstIPList->addItems({QStringLiteral("10.0.0.1"), QStringLiteral("server2")});
    ui().txtLog->setText(QStringLiteral("/var/tmp/run.log"));
    ui().txtNumBytes->setText(QStringLiteral("512"));
    ui().optSeconds->setChecked(true);
    ui().txtInterval->setText(QStringLiteral("30"));
    setCheckValue(*ui().chkLogTotal, 1);
    ui().mnuSSave->setChecked(false);
    ui().mnuUnattended->setChecked(true);
    const ShownSettings saved = shown(ui());
    fakes.store.writes.clear();
    QTest::mouseClick(ui().cmdSave, Qt::LeftButton);
    EXPECT_EQ(fakes.store.writes.join(' '),
              QStringLiteral("SaveSettingsOnExit=False Unattended=True PingWithBytes=512 Timeout=3 "
                             "IntervalMinutes=False IntervalSeconds=True Interval=30 "
                             "EnableLoggingTotal=1 EnableLoggingFailed=1 "
                             "LogFilePath=/var/tmp/run.log Beep=0 Attempts=1 IntervalTenths=False "
                             "IPList=10.0.0.1,server2,"));
    restart();
    EXPECT_EQ(shown(ui()), saved);
    EXPECT_TRUE(ui().cmdStartPing->isEnabled());
    fakes.store.writes.clear();
    window->cmdExit_Click(); // save on exit unchecked: nothing written
    EXPECT_TRUE(fakes.store.writes.isEmpty());
}

TEST_F(SettingsRules, StoredTextsConvertOrReadAsMissing) {
    const struct {
        const char *key, *stored, *control;
        int value; // check value, or 0/1 for option buttons and menu check marks
    } rows[] = {{"IntervalSeconds", "tRUE", "optSeconds", 1},
                {"IntervalSeconds", "-1", "optSeconds", 1},
                {"Unattended", "3", "mnuUnattended", 1},
                {"Beep", "2", "chkBeep", 2},
                {"SaveSettingsOnExit", "perhaps", "mnuSSave", 1},
                {"Unattended", "yes", "mnuUnattended", 0},
                {"Beep", "3", "chkBeep", 0},
                {"EnableLoggingTotal", "99999", "chkLogTotal", 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + "=" + row.stored);
        fakes.store.values.clear();
        fakes.store.put(QString::fromLatin1(row.key), QString::fromLatin1(row.stored));
        restart();
        const QString name = QString::fromLatin1(row.control);
        int value = -1;
        if (auto* box = window->findChild<QCheckBox*>(name))
            value = checkValue(*box);
        else if (auto* option = window->findChild<QRadioButton*>(name))
            value = option->isChecked();
        else if (auto* action = window->findChild<QAction*>(name))
            value = action->isChecked();
        EXPECT_EQ(value, row.value);
    }
    // Empty numbers end as the loader's fallbacks; an hour beyond 16 bits reads as 0.
    for (const QString& key : {keys::Interval, keys::PingWithBytes, keys::Attempts})
        fakes.store.put(key, QString());
    fakes.store.put(keys::UnattendedFrom, QStringLiteral("70000"));
    restart();
    EXPECT_EQ(shown(ui()).numbers, QStringList({"16", "3", "2", "1"}));
    EXPECT_EQ(state().unattendedFromHour, 0);
}

TEST(SettingsCodec, AListIsItemsEachFollowedByACommaAndReadsBackWithoutEscaping) {
    EXPECT_EQ(encodeList({"a,b", "c"}), QStringLiteral("a,b,c,"));
    const std::pair<const char*, QStringList> rows[] = {
        {"", {}},
        {"10.0.0.1,server2,", {"10.0.0.1", "server2"}},
        {",", {}},
        {",,", {","}},
        {"a,,b,", {"a", ",b"}},
        {"a,b", {"a", "b"}} /* text after the last comma */};
    for (const auto& [stored, items] : rows)
        EXPECT_EQ(decodeList(QString::fromLatin1(stored)), items) << stored;
}

TEST_F(SettingsRules, RestoreDefaultsSetsItsValuesAndAFailedSaveIsToldOncePerStreak) {
    load();
    ui().txtAttempts->setText(QStringLiteral("3"));
    ui().optMilSeconds->setChecked(true);
    ui().mnuSSave->setChecked(false);
    ui().mnuRestore->trigger();
    EXPECT_EQ(shown(ui()),
              (ShownSettings{
                  LogFile::defaultLogPath(), {"16", "3", "5", "1"}, {1, 0, 0}, {1, 0, 1}, {1, 0}}));
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
    EXPECT_TRUE(fakes.store.writes.isEmpty());

    fakes.store.failWrites = true;
    const FakeMessageBoxes::Box box{
        QStringLiteral("The settings could not be saved to /fake/config/8R1/8R1.ini.\rReason: the "
                       "file is read-only."),
        QStringLiteral("Error saving settings"), MsgIcon::Critical, MsgButtons::Ok};
    for (const bool fails : {true, true, false, true}) {
        fakes.store.failWrites = fails;
        EXPECT_EQ(window->settings().cmdSave_Click(), !fails);
    }
    EXPECT_EQ(fakes.messages.shown, std::vector({box, box}));
}

} // namespace
} // namespace ew::test
