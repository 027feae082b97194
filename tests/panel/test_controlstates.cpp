#include "core/Convert.h"
#include "panel/ControlStates.h"
#include "support/MainWindowFixture.h"
#include "widgets/ResultsList.h"

#include <QScreen>
#include <QTest>

namespace ew::test {
namespace {

using SettingsPanel = MainWindowTest;

// The window's outer place as the placement rule computes it: centred across, a third (full)
// or half (short) of the free height from the top.
QPoint expectedPlace(const QWidget& w, int divisor) {
    const QRect screen = w.screen()->geometry();
    const QRect frame = w.frameGeometry();
    return {screen.x() + (screen.width() - frame.width()) / 2,
            screen.y() + (screen.height() - frame.height()) / divisor};
}

TEST_F(SettingsPanel, HidingAndShowingChangesHeightPlacementCaptionAndSave) {
    load();
    const int fullHeight = window->height();
    EXPECT_EQ(window->frameGeometry().topLeft(), expectedPlace(*window, 3));
    EXPECT_EQ(ui().cmdSettings->text(), QStringLiteral("<< Hide Settings"));
    EXPECT_FALSE(ui().cmdSave->isHidden());

    QTest::mouseClick(ui().cmdSettings, Qt::LeftButton);
    EXPECT_EQ(ui().cmdSettings->text(), QStringLiteral("Show Settings >>"));
    EXPECT_TRUE(ui().cmdSave->isHidden());
    EXPECT_LT(window->height(), fullHeight);
    EXPECT_EQ(window->frameGeometry().topLeft(), expectedPlace(*window, 2));
    // The short window ends under the row of cmdSettings, with the status bar below it; the
    // panel's controls lie outside.
    const int statusTop = ui().StatusBar1->geometry().top();
    EXPECT_LE(ui().cmdSettings->geometry().bottom(), statusTop);
    EXPECT_LE(ui().Label4->geometry().bottom(), statusTop);
    EXPECT_GE(ui().txtIPAddress->geometry().top(), statusTop);
    EXPECT_EQ(ui().StatusBar1->geometry().bottom(), ui().centralwidget->height() - 1);

    QTest::mouseClick(ui().cmdSettings, Qt::LeftButton);
    EXPECT_EQ(ui().cmdSettings->text(), QStringLiteral("<< Hide Settings"));
    EXPECT_FALSE(ui().cmdSave->isHidden());
    EXPECT_EQ(window->height(), fullHeight);
    EXPECT_EQ(window->frameGeometry().topLeft(), expectedPlace(*window, 3));
}

// The controls and menu items that ToggleControls locks, in the order of its table.
const char* const Locked[] = {
    "cmdStartPing", "cmdStopPing", "cmdOpenLog",  "cmdSettings",  "txtIPAddress", "cmdAdd",
    "cmdRemove",    "cmdClear",    "lstIPList",   "cmdSave",      "txtInterval",  "vsbInterval",
    "optSeconds",   "Label2",      "optMinutes",  "Label1",       "txtAttempts",  "vsbAttempts",
    "txtNumBytes",  "vsbNumBytes", "txtTimeout",  "vsbTimeout",   "chkBeep",      "chkLogTotal",
    "chkLogFailed", "lblBeep",     "lblLogTotal", "lblLogFailed", "mnuRestore",   "mnuSSave",
    "mnuAbout"};
// What the lock leaves alone, so the operator can correct the path, set it, or exit.
const char* const Untouched[] = {
    "cmdExit", "txtLog", "cmdSetLog",   "optMilSeconds", "Frame1",     "Frame2",        "Label3",
    "Label4",  "Label5", "lblNumBytes", "lblTimeout",    "StatusBar1", "mnuUnattended", "mnuExit"};

class ControlLock : public MainWindowTest {
protected:
    // A control or a menu item, by its name.
    bool enabled(const char* name) {
        auto* o = window->findChild<QObject*>(QString::fromLatin1(name));
        EXPECT_NE(o, nullptr) << name;
        auto* w = qobject_cast<QWidget*>(o);
        auto* a = qobject_cast<QAction*>(o);
        return w ? w->isEnabled() : a && a->isEnabled();
    }
    void enable(const char* name) {
        auto* o = window->findChild<QObject*>(QString::fromLatin1(name));
        if (auto* w = qobject_cast<QWidget*>(o))
            w->setEnabled(true);
        else if (auto* a = qobject_cast<QAction*>(o))
            a->setEnabled(true);
    }
    void showNotice(bool shown) {
        ui().txtPathError->setVisible(shown);
        ui().lstPingResults->setVisible(!shown);
        window->controlStates().ToggleControls();
    }
};

TEST_F(ControlLock, LockDisablesEveryControlOfTheTableAndNothingElse) {
    load();
    for (const char* n : Locked)
        enable(n);
    for (const char* n : Untouched)
        enable(n);
    showNotice(true);
    for (const char* n : Locked)
        EXPECT_FALSE(enabled(n)) << n;
    for (const char* n : Untouched)
        EXPECT_TRUE(enabled(n)) << n;
    QTest::mouseClick(ui().cmdExit, Qt::LeftButton); // exit still works while locked
    EXPECT_EQ(endRequests, 1);
}

// Unlocking leaves Stop as it was, and the failed-pings box disabled while every ping is logged.
TEST_F(ControlLock, UnlockEnablesTheTableLeavesStopAsItWasAndRecomputesRestoreDefaults) {
    load();
    for (const bool monitoringAndLoggingAll : {false, true}) {
        setCheckValue(*ui().chkLogTotal, monitoringAndLoggingAll ? 1 : 0);
        setCheckValue(*ui().chkLogFailed, 1);
        showNotice(true);
        ui().cmdStopPing->setEnabled(monitoringAndLoggingAll);
        showNotice(false);
        // Whatever the list holds; the first-run values differ from the defaults.
        for (const std::string_view n : Locked)
            EXPECT_TRUE(enabled(n.data()) || n == "cmdStopPing" || n == "chkLogFailed") << n;
        EXPECT_EQ(ui().cmdStopPing->isEnabled(), monitoringAndLoggingAll);
        EXPECT_EQ(ui().chkLogFailed->isEnabled(), !monitoringAndLoggingAll);
        EXPECT_EQ(ui().lstIPList->count(), 0);
    }
    ui().mnuRestore->trigger();
    setCheckValue(*ui().chkBeep, 0);
    showNotice(true);
    showNotice(false);
    EXPECT_TRUE(ui().mnuRestore->isEnabled());
    ui().mnuRestore->trigger();
    showNotice(true);
    showNotice(false);
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
}

struct Difference {
    const char* what;
    std::function<void(Ui::frmEchoWarden&)> change;
    bool differs;
};

void PrintTo(const Difference& d, std::ostream* os) {
    *os << d.what;
}

class RestoreMenu : public MainWindowTest, public ::testing::WithParamInterface<Difference> {};

TEST_P(RestoreMenu, EnabledExactlyWhileAWatchedSettingDiffers) {
    load();
    ui().mnuRestore->trigger();
    ASSERT_FALSE(ui().mnuRestore->isEnabled());
    GetParam().change(ui());
    window->controlStates().UpdateRestoreMenu();
    EXPECT_EQ(ui().mnuRestore->isEnabled(), GetParam().differs);
}

void setText(QLineEdit* box, const char* text) {
    box->setText(QString::fromLatin1(text));
}

INSTANTIATE_TEST_SUITE_P(
    WatchedSettings, RestoreMenu,
    ::testing::Values(
        Difference{"timeout 03", [](auto& u) { setText(u.txtTimeout, "03"); }, false},
        Difference{"timeout 4", [](auto& u) { setText(u.txtTimeout, "4"); }, true},
        Difference{"timeout letters", [](auto& u) { setText(u.txtTimeout, "3a"); }, true},
        Difference{"timeout blank", [](auto& u) { setText(u.txtTimeout, " "); }, true},
        Difference{"packet 017", [](auto& u) { setText(u.txtNumBytes, "017"); }, true},
        Difference{"packet 016", [](auto& u) { setText(u.txtNumBytes, "016"); }, false},
        Difference{"interval 6", [](auto& u) { setText(u.txtInterval, "6"); }, true},
        Difference{"interval too big", [](auto& u) { setText(u.txtInterval, "99999"); }, true},
        Difference{"attempts 2", [](auto& u) { setText(u.txtAttempts, "2"); }, true},
        Difference{"failed-log off", [](auto& u) { setCheckValue(*u.chkLogFailed, 0); }, true},
        Difference{"beep off", [](auto& u) { setCheckValue(*u.chkBeep, 0); }, true},
        Difference{"beep greyed", [](auto& u) { setCheckValue(*u.chkBeep, 2); }, true},
        Difference{"seconds", [](auto& u) { u.optSeconds->setChecked(true); }, true},
        Difference{"save on exit off", [](auto& u) { u.mnuSSave->setChecked(false); }, false},
        Difference{"unattended on", [](auto& u) { u.mnuUnattended->setChecked(true); }, false}));

TEST_F(ControlLock, TypingZeroThreeIntoTheTimeoutLeavesRestoreDefaultsDisabled) {
    load();
    ui().mnuRestore->trigger();
    ASSERT_EQ(ui().txtTimeout->text(), QStringLiteral("3"));
    QTest::keyClick(ui().txtTimeout, Qt::Key_Home);
    QTest::keyClick(ui().txtTimeout, Qt::Key_0);
    EXPECT_EQ(ui().txtTimeout->text(), QStringLiteral("03"));
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
    QTest::keyClick(ui().txtTimeout, Qt::Key_End);
    QTest::keyClick(ui().txtTimeout, Qt::Key_4);
    EXPECT_EQ(ui().txtTimeout->text(), QStringLiteral("034"));
    EXPECT_TRUE(ui().mnuRestore->isEnabled());
}

} // namespace
} // namespace ew::test
