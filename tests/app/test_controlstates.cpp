#include "app/ControlStates.h"
#include "app/Convert.h"
#include "app/ResultsList.h"
#include "support/MainWindowFixture.h"

#include <QMenuBar>
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
    // The full window shows every control of the panel above the status bar.
    EXPECT_LE(ui().Frame2->geometry().bottom(), ui().StatusBar1->geometry().top());
    EXPECT_LE(ui().cmdSetLog->geometry().bottom(), ui().StatusBar1->geometry().top());
}

// The controls that ToggleControls locks, in the order of its table.
const char* const LockedControls[] = {
    "cmdStartPing", "cmdStopPing", "cmdOpenLog",  "cmdSettings", "txtIPAddress", "cmdAdd",
    "cmdRemove",    "cmdClear",    "lstIPList",   "cmdSave",     "txtInterval",  "vsbInterval",
    "optSeconds",   "Label2",      "optMinutes",  "Label1",      "txtAttempts",  "vsbAttempts",
    "txtNumBytes",  "vsbNumBytes", "txtTimeout",  "vsbTimeout",  "chkBeep",      "chkLogTotal",
    "chkLogFailed", "lblBeep",     "lblLogTotal", "lblLogFailed"};
const char* const LockedActions[] = {"mnuRestore", "mnuSSave", "mnuAbout"};
// What the lock leaves alone, so the operator can correct the path, set it, or exit.
const char* const UntouchedControls[] = {"cmdExit", "txtLog",      "cmdSetLog",  "optMilSeconds",
                                         "Frame1",  "Frame2",      "Label3",     "Label4",
                                         "Label5",  "lblNumBytes", "lblTimeout", "StatusBar1"};
const char* const UntouchedActions[] = {"mnuUnattended", "mnuExit"};

class ControlLock : public MainWindowTest {
protected:
    QWidget* widget(const char* name) {
        auto* w = window->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QAction* action(const char* name) {
        auto* a = window->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(a, nullptr) << name;
        return a;
    }
    void showNotice(bool shown) {
        ui().txtPathError->setVisible(shown);
        ui().lstPingResults->setVisible(!shown);
        window->controlStates().ToggleControls();
    }
};

TEST_F(ControlLock, LockDisablesEveryControlOfTheTableAndNothingElse) {
    load();
    for (const char* n : LockedControls)
        widget(n)->setEnabled(true);
    for (const char* n : LockedActions)
        action(n)->setEnabled(true);
    for (const char* n : UntouchedControls)
        widget(n)->setEnabled(true);
    for (const char* n : UntouchedActions)
        action(n)->setEnabled(true);

    showNotice(true);

    for (const char* n : LockedControls)
        EXPECT_FALSE(widget(n)->isEnabled()) << n;
    for (const char* n : LockedActions)
        EXPECT_FALSE(action(n)->isEnabled()) << n;
    for (const char* n : UntouchedControls)
        EXPECT_TRUE(widget(n)->isEnabled()) << n;
    for (const char* n : UntouchedActions)
        EXPECT_TRUE(action(n)->isEnabled()) << n;
    EXPECT_FALSE(ui().txtPathError->isHidden());
    EXPECT_TRUE(ui().lstPingResults->isHidden());

    // Exit still works while locked.
    QTest::mouseClick(ui().cmdExit, Qt::LeftButton);
    EXPECT_EQ(endRequests, 1);
}

TEST_F(ControlLock, UnlockEnablesTheTableButLeavesStopAsItWas) {
    load();
    showNotice(true);
    for (const bool stopBefore : {false, true}) {
        ui().cmdStopPing->setEnabled(stopBefore);
        ui().txtPathError->setVisible(false);
        window->controlStates().ToggleControls();
        for (const char* n : LockedControls) {
            if (std::string_view(n) != "cmdStopPing") {
                EXPECT_TRUE(widget(n)->isEnabled()) << n;
            }
        }
        EXPECT_EQ(ui().cmdStopPing->isEnabled(), stopBefore);
        EXPECT_TRUE(action("mnuSSave")->isEnabled());
        EXPECT_TRUE(action("mnuAbout")->isEnabled());
        // The first-run values differ from Restore Defaults.
        EXPECT_TRUE(action("mnuRestore")->isEnabled());
        EXPECT_TRUE(ui().txtPathError->isHidden());
        EXPECT_FALSE(ui().lstPingResults->isHidden());
        // Whatever the list and the address box hold.
        EXPECT_EQ(ui().lstIPList->count(), 0);
    }
}

TEST_F(ControlLock, UnlockLeavesTheFailedPingsBoxDisabledWhileEveryPingIsLogged) {
    load();
    for (const int total : {0, 1}) {
        setCheckValue(*ui().chkLogTotal, total);
        setCheckValue(*ui().chkLogFailed, 1);
        showNotice(true);
        EXPECT_FALSE(ui().chkLogFailed->isEnabled());
        showNotice(false);
        EXPECT_EQ(ui().chkLogFailed->isEnabled(), total == 0) << total;
    }
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

TEST_F(ControlLock, LockDisablesRestoreDefaultsAndUnlockRecomputesIt) {
    load();
    ui().mnuRestore->trigger();
    setCheckValue(*ui().chkBeep, 0);
    showNotice(true);
    EXPECT_FALSE(ui().mnuRestore->isEnabled());
    showNotice(false);
    EXPECT_TRUE(ui().mnuRestore->isEnabled());
}

} // namespace
} // namespace ew::test
