#include "core/Convert.h"
#include "editors/LogFile.h"
#include "platform/SystemDirs.h"
#include "settings/Settings.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "support/SettingsTestUtil.h"
#include "tooltips/ToolTips.h"

namespace ew::test {
namespace {

using SettingsLoad = MainWindowTest;

TEST_F(SettingsLoad, FirstRunWithAnEmptyStoreGivesTheTableValues) {
    load();
    EXPECT_EQ(shown(ui()), firstRun());
    EXPECT_FALSE(ui().cmdStartPing->isEnabled());
    EXPECT_FALSE(ui().cmdClear->isEnabled());
    EXPECT_EQ(ui().txtLog->text(), applicationDir() + QStringLiteral("/Ping.Log"));
    // The unchecked beep and failed-log boxes differ from the Restore Defaults values.
    EXPECT_TRUE(ui().mnuRestore->isEnabled());
    for (QWidget* w : std::initializer_list<QWidget*>{ui().cmdStopPing, ui().cmdSetLog,
                                                      ui().cmdRemove, ui().cmdAdd})
        EXPECT_FALSE(w->isEnabled()) << w->objectName().toStdString();
    EXPECT_EQ(state().stateFlag, StateFlag::Yes);
    EXPECT_EQ(state().askOverwrite, AskOverwrite::Yes);
    EXPECT_EQ(state().windowsDir, systemProgramDir());
    EXPECT_TRUE(state().windowsDir.endsWith(QLatin1Char('/')));
    EXPECT_EQ(state().unattendedFromHour, 0);
    EXPECT_EQ(state().unattendedToHour, 0);
    EXPECT_EQ(state().lastScrollValue, ui().vsbTimeout->value());
    EXPECT_TRUE(fakes.store.writes.isEmpty());
    EXPECT_TRUE(fakes.messages.shown.empty());
    // The help pop-up polls once a second.
    EXPECT_TRUE(window->toolTips().isLoaded());
    EXPECT_EQ(window->toolTips().timerInterval(), 1000);
    EXPECT_TRUE(window->toolTips().timerEnabled());
}

TEST_F(SettingsLoad, MissingLogPathReadsTheCurrentLogPathAndAnEmptyOneTheDefault) {
    state().logPath = QStringLiteral("/var/tmp/earlier.log");
    load();
    EXPECT_EQ(ui().txtLog->text(), QStringLiteral("/var/tmp/earlier.log"));

    fakes.store.put(keys::LogFilePath, QString());
    restart();
    EXPECT_EQ(ui().txtLog->text(), LogFile::defaultLogPath());
}

TEST_F(SettingsLoad, EmptyStoredNumbersEndAsTheLoadFallbacks) {
    fakes.store.put(keys::Interval, QString());
    fakes.store.put(keys::PingWithBytes, QString());
    fakes.store.put(keys::Attempts, QString());
    load();
    EXPECT_EQ(shown(ui()).numbers, QStringList({"16", "3", "2", "1"}));
}

struct StoredValue {
    const char* key;
    const char* text;
    const char* control;
    int expected; // check value, or 0/1 for option buttons and menu check marks
};

void PrintTo(const StoredValue& v, std::ostream* os) {
    *os << v.key << '=' << v.text;
}

class StoredValues : public MainWindowTest, public ::testing::WithParamInterface<StoredValue> {};

int controlValue(frmEchoWarden& w, const QString& name) {
    if (auto* box = w.findChild<QCheckBox*>(name))
        return checkValue(*box);
    if (auto* option = w.findChild<QRadioButton*>(name))
        return option->isChecked() ? 1 : 0;
    if (auto* action = w.findChild<QAction*>(name))
        return action->isChecked() ? 1 : 0;
    ADD_FAILURE() << "no control " << name.toStdString();
    return -1;
}

TEST_P(StoredValues, ReadAsTheirControlValue) {
    const StoredValue& v = GetParam();
    fakes.store.put(QString::fromLatin1(v.key), QString::fromLatin1(v.text));
    load();
    EXPECT_EQ(controlValue(*window, QString::fromLatin1(v.control)), v.expected);
    EXPECT_TRUE(fakes.messages.shown.empty());
}

// The writer's own "True"/"False" come back through the restart of a save; every spelling is
// a matter of the codec.
INSTANTIATE_TEST_SUITE_P(BooleansInAnyCaseOrAsNumbers, StoredValues,
                         ::testing::Values(StoredValue{"IntervalSeconds", "tRUE", "optSeconds", 1},
                                           StoredValue{"IntervalSeconds", "-1", "optSeconds", 1},
                                           StoredValue{"IntervalMinutes", "FALSE", "optMinutes", 0},
                                           StoredValue{"SaveSettingsOnExit", "0", "mnuSSave", 0},
                                           StoredValue{"Unattended", "3", "mnuUnattended", 1},
                                           StoredValue{"Beep", "2", "chkBeep", 2}));

// A hand-edited or damaged store: a value that does not convert reads as the missing key.
INSTANTIATE_TEST_SUITE_P(
    ValuesThatDoNotConvert, StoredValues,
    ::testing::Values(StoredValue{"SaveSettingsOnExit", "perhaps", "mnuSSave", 1},
                      StoredValue{"Unattended", "yes", "mnuUnattended", 0},
                      StoredValue{"IntervalMinutes", "", "optMinutes", 1},
                      StoredValue{"IntervalSeconds", "x1", "optSeconds", 0},
                      StoredValue{"Beep", "3", "chkBeep", 0},
                      StoredValue{"Beep", "-1", "chkBeep", 0},
                      StoredValue{"Beep", "one", "chkBeep", 0},
                      StoredValue{"EnableLoggingTotal", "99999", "chkLogTotal", 0},
                      StoredValue{"EnableLoggingFailed", "1.5", "chkLogFailed", 0}));

TEST_F(SettingsLoad, ScheduleHoursThatDoNotConvertReadAsZero) {
    fakes.store.put(keys::UnattendedFrom, QStringLiteral("22"));
    fakes.store.put(keys::UnattendedTo, QStringLiteral("70000"));
    load();
    EXPECT_EQ(state().unattendedFromHour, 22);
    EXPECT_EQ(state().unattendedToHour, 0);
    fakes.store.put(keys::UnattendedFrom, QStringLiteral("9 o'clock"));
    fakes.store.put(keys::UnattendedTo, QStringLiteral("6"));
    restart();
    EXPECT_EQ(state().unattendedFromHour, 0);
    EXPECT_EQ(state().unattendedToHour, 6);
}

} // namespace
} // namespace ew::test
