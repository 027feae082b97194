#include "panel/ControlStates.h"
#include "support/MainWindowFixture.h"

#include <span>

namespace ew::test {
namespace {

// What the path notice locks; the rest stays usable, so the operator can correct the path,
// set it, or exit.
const char* const Locked[] = {
    "cmdStartPing", "cmdStopPing", "cmdOpenLog",  "cmdSettings",  "txtIPAddress", "cmdAdd",
    "cmdRemove",    "cmdClear",    "lstIPList",   "cmdSave",      "txtInterval",  "vsbInterval",
    "optSeconds",   "Label2",      "optMinutes",  "Label1",       "txtAttempts",  "vsbAttempts",
    "txtNumBytes",  "vsbNumBytes", "txtTimeout",  "vsbTimeout",   "chkBeep",      "chkLogTotal",
    "chkLogFailed", "lblBeep",     "lblLogTotal", "lblLogFailed", "mnuRestore",   "mnuSSave",
    "mnuAbout"};
const char* const Untouched[] = {"cmdExit",       "txtLog",  "cmdSetLog",   "optMilSeconds",
                                 "mnuUnattended", "mnuExit", "lblNumBytes", "StatusBar1"};

// The time panel shows hours and minutes and looks again just after the minute changes.
TEST_F(MainWindowTest, TheClockPanelsFollowTheMinute) {
    StatusBar& bar = *ui().StatusBar1;
    for (const QTime at : {QTime(23, 59, 59, 500), QTime(0, 0, 0, 20)}) {
        fakes.clock.set(QDateTime(QDate(2026, 12, at.hour() ? 7 : 8), at));
        bar.refreshDateTime();
        EXPECT_EQ(bar.panelText(3), shortDateText(fakes.clock.now().date()));
        EXPECT_EQ(bar.panelText(4), shortTimeText(QTime(at.hour(), at.minute())));
        const int expected = 60000 - at.second() * 1000 - at.msec() + 20;
        EXPECT_LE(bar.msToNextRefresh(), expected);
        EXPECT_GE(bar.msToNextRefresh(), expected - 100);
    }
}

// Locking disables the table and nothing else; unlocking enables it again but for Stop, which
// stays as it was, and the failed-pings box while every ping is logged.
TEST_F(PassTest, ToggleControlsLocksTheTableAndRestoreFollowsTheDefaults) {
    const auto object = [&](const char* name) { return window->findChild<QObject*>(name); };
    const auto enabled = [&](const char* name) {
        return object(name)->property("enabled").toBool();
    };
    for (const bool loggingAll : {false, true}) {
        setCheckValue(*ui().chkLogTotal, loggingAll);
        for (const auto names :
             {std::span<const char* const>(Locked), std::span<const char* const>(Untouched)})
            for (const char* name : names)
                object(name)->setProperty("enabled", true);
        ui().txtPathError->show();
        window->controlStates().ToggleControls();
        for (const char* name : Locked)
            EXPECT_FALSE(enabled(name)) << name;
        for (const char* name : Untouched)
            EXPECT_TRUE(enabled(name)) << name;
        ui().txtPathError->hide();
        ui().cmdStopPing->setEnabled(loggingAll);
        window->controlStates().ToggleControls();
        for (const std::string_view name : Locked)
            EXPECT_TRUE(enabled(name.data()) || name == "mnuRestore" || name == "cmdStopPing" ||
                        name == "chkLogFailed")
                << name;
        EXPECT_EQ(ui().cmdStopPing->isEnabled(), loggingAll);
        EXPECT_EQ(ui().chkLogFailed->isEnabled(), !loggingAll);
        EXPECT_FALSE(ui().lstPingResults->isHidden());
    }

    // After Restore Defaults the item is enabled exactly while a watched setting differs from
    // its default, numbers compared as whole 16-bit numbers.
    using U = Ui::frmEchoWarden&;
    const std::pair<std::function<void(U)>, bool> rows[] = {
        {[](U u) { u.txtTimeout->setText("03"); }, false},
        {[](U u) { u.txtTimeout->setText("3a"); }, true},
        {[](U u) { u.txtNumBytes->setText("017"); }, true},
        {[](U u) { u.txtInterval->setText("99999"); }, true},
        {[](U u) { u.txtAttempts->setText("2"); }, true},
        {[](U u) { setCheckValue(*u.chkLogFailed, 0); }, true},
        {[](U u) { setCheckValue(*u.chkBeep, 2); }, true},
        {[](U u) { u.optSeconds->setChecked(true); }, true},
        {[](U u) { u.mnuSSave->setChecked(false); }, false}}; // restored, not watched
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        ui().mnuRestore->trigger();
        ASSERT_FALSE(ui().mnuRestore->isEnabled());
        rows[i].first(ui());
        window->controlStates().UpdateRestoreMenu();
        EXPECT_EQ(ui().mnuRestore->isEnabled(), rows[i].second);
    }
}

} // namespace
} // namespace ew::test
