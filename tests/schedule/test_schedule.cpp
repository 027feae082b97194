#include "monitor/Monitor.h"
#include "schedule/Schedule.h"
#include "schedule/UpDown.h"
#include "schedule/frmSchedule.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "ui_frmSchedule.h"

#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <functional>

namespace ew::test {
namespace {

const FakeMessageBoxes::Box kInvalidTime{QStringLiteral("Please enter valid time"),
                                         QStringLiteral("EchoWarden"), MsgIcon::None,
                                         MsgButtons::Ok};

// The hour boxes, PM marks and mode as the dialog shows them.
struct Shown {
    QString from;
    bool fromPM;
    QString to;
    bool toPM;
    bool enabled;
    bool operator==(const Shown&) const = default;
    friend void PrintTo(const Shown& s, std::ostream* os) {
        *os << s.from.toStdString() << (s.fromPM ? " PM" : " AM") << " to " << s.to.toStdString()
            << (s.toPM ? " PM" : " AM") << (s.enabled ? ", enabled" : ", disabled");
    }
};

class ScheduleTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
    }

    // Opens the dialog from the File menu and runs drive before its modal loop; then closes it
    // with its close box (storing nothing) unless drive closed it or asked to keep it open.
    void openSchedule(const std::function<void(frmSchedule&)>& drive, bool keepOpen = false) {
        bool opened = false;
        const auto c = QObject::connect(&window->schedule(), &Schedule::dialogOpened,
                                        [&](frmSchedule* dialog) {
                                            opened = true;
                                            drive(*dialog);
                                            if (!keepOpen && dialog->isVisible())
                                                dialog->close();
                                        });
        ui().mnuUnattended->trigger();
        QObject::disconnect(c);
        ASSERT_TRUE(opened);
        EXPECT_EQ(window->schedule().dialog(), nullptr) << "the dialog is unloaded once closed";
    }

    // Fills the dialog as an operator would and presses O.K.
    void confirm(const Shown& s) {
        openSchedule([&](frmSchedule& d) {
            Ui::frmSchedule& u = d.ui();
            u.txtFrom->setText(s.from);
            u.chkPMFrom->setChecked(s.fromPM);
            u.txtTo->setText(s.to);
            u.chkPMTo->setChecked(s.toPM);
            u.chkUnattended->setChecked(s.enabled);
            QTest::mouseClick(u.cmdOK, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        });
    }

    Shown reopen() {
        Shown s{};
        openSchedule([&](frmSchedule& d) {
            Ui::frmSchedule& u = d.ui();
            s = {u.txtFrom->text(), u.chkPMFrom->isChecked(), u.txtTo->text(),
                 u.chkPMTo->isChecked(), u.chkUnattended->isChecked()};
        });
        return s;
    }
};

TEST_F(ScheduleTest, DesignNamesCaptionsTabOrderAndEnterAndEscPressNothing) {
    openSchedule([&](frmSchedule& d) {
        Ui::frmSchedule& u = d.ui();
        EXPECT_EQ(d.objectName(), QStringLiteral("frmSchedule"));
        EXPECT_EQ(d.windowModality(), Qt::ApplicationModal);
        const std::pair<QString, const char*> texts[] = {
            {d.windowTitle(), "Schedule"},   {u.Frame1->title(), "Select time range to exclude"},
            {u.Label3->text(), "From:"},     {u.Label4->text(), "To:"},
            {u.Label1->text(), "PM"},        {u.Label2->text(), "PM"},
            {u.cmdOK->text(), "O.K."},       {u.lblUnattended->text(), "Enable scheduling"},
            {u.cmdCancel->text(), "Cancel"}, {u.chkPMFrom->text(), ""},
            {u.chkUnattended->text(), ""}};
        for (const auto& [text, expected] : texts)
            EXPECT_EQ(text, QString::fromLatin1(expected));
        EXPECT_TRUE(u.Label3->font().bold() && u.lblUnattended->font().bold());
        for (QPushButton* b : {u.cmdOK, u.cmdCancel})
            EXPECT_FALSE(b->isDefault() || b->autoDefault()) << b->objectName().toStdString();
        EXPECT_EQ(u.txtFrom->size(), QSize(25, 19));
        EXPECT_EQ(u.cmdOK->size(), QSize(81, 25));
        EXPECT_EQ(d.size(), QSize(241, 153));

        QStringList order{u.txtFrom->objectName()};
        for (QWidget* w = u.txtFrom; order.size() < 9; order << w->objectName())
            do
                w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(&d));
        EXPECT_EQ(order.join(' '), QStringLiteral("txtFrom UpDown1 txtTo UpDown2 chkPMFrom chkPMTo "
                                                  "cmdOK cmdCancel chkUnattended"));

        const QPoint offCentre = d.frameGeometry().center() - d.screen()->geometry().center();
        EXPECT_LE(std::abs(offCentre.x()), 1);
        EXPECT_LE(std::abs(offCentre.y()), 1);

        // Enter and Esc press nothing, and Esc does not close the dialog.
        const auto writes = fakes.store.writes;
        for (QWidget* focus : std::initializer_list<QWidget*>{u.txtFrom, u.cmdOK, u.cmdCancel}) {
            focus->setFocus();
            for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                QTest::keyClick(focus, key);
                EXPECT_TRUE(d.isVisible()) << focus->objectName().toStdString() << " " << key;
            }
        }
        EXPECT_EQ(fakes.store.writes, writes);
        EXPECT_TRUE(fakes.messages.shown.empty());
    });
}

TEST_F(ScheduleTest, OpeningSavesTheSettingsAndTakesTheModeFromTheCheckMark) {
    ui().mnuUnattended->setChecked(true);
    openSchedule([&](frmSchedule& d) {
        // The click does not change the check mark, and the settings were saved first.
        EXPECT_TRUE(ui().mnuUnattended->isChecked());
        EXPECT_EQ(state().unattendedState, QStringLiteral("True"));
        EXPECT_TRUE(d.ui().chkUnattended->isChecked());
        EXPECT_EQ(fakes.store.value(keys::Unattended), QStringLiteral("True"));
        EXPECT_EQ(fakes.store.value(keys::Attempts), ui().txtAttempts->text());
    });
    EXPECT_TRUE(ui().mnuUnattended->isChecked());
}

TEST_F(ScheduleTest, EnabledStoresTheHoursOfTheDayAndReopensAsShown) {
    const struct {
        Shown entered;
        const char *storedFrom, *storedTo;
        int fromHour, toHour;
    } cases[] = {{{"1", true, "5", true, true}, "13", "17", 13, 17},
                 {{"12", true, "12", false, true}, "12", "0", 12, 0},
                 {{"11", true, "9", false, true}, "23", "9", 23, 9},
                 // An hour that stays as shown is stored as the box's text.
                 {{"09", false, "10", true, true}, "09", "22", 9, 22}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.entered));
        fakes.store.values.clear();
        restart();
        confirm(c.entered);
        // The three keys, in this order, after the save made on opening.
        ASSERT_GE(fakes.store.writes.size(), 3);
        EXPECT_EQ(fakes.store.writes.mid(fakes.store.writes.size() - 3).join(' '),
                  QStringLiteral("Unattended=True UnattendedTo=%1 UnattendedFrom=%2")
                      .arg(QString::fromLatin1(c.storedTo), QString::fromLatin1(c.storedFrom)));
        EXPECT_EQ(state().unattendedFromHour, c.fromHour);
        EXPECT_EQ(state().unattendedToHour, c.toHour);
        EXPECT_EQ(state().unattendedState, QStringLiteral("True"));
        EXPECT_TRUE(ui().mnuUnattended->isChecked()) << "re-read through ReadSettings";
        EXPECT_EQ(reopen(), c.entered);
    }
}

TEST_F(ScheduleTest, TheMonitorSkipsPassesOnlyInsideTheStoredRange) {
    ui().lstIPList->addItem(QStringLiteral("127.0.0.1"));
    ui().cmdStartPing->setEnabled(true);
    fakes.clock.setTime(QTime(12, 0, 0));
    ui().cmdStartPing->click();
    // Whether a tick at the time runs a pass that is due at once.
    auto passAt = [&](int h, int m, int sec) {
        fakes.clock.setTime(QTime(h, m, sec));
        state().stateFlag = StateFlag::NoTimer;
        const std::size_t before = fakes.echo.calls.size();
        window->monitor().Timer1_Timer();
        return fakes.echo.calls.size() > before;
    };
    confirm({"1", true, "5", true, true});
    ASSERT_TRUE(ui().mnuUnattended->isChecked());
    EXPECT_TRUE(passAt(12, 59, 59));
    EXPECT_FALSE(passAt(13, 0, 0));
    EXPECT_EQ(window->monitor().timer1().interval(), 60000);
    EXPECT_FALSE(passAt(16, 59, 59));
    EXPECT_TRUE(passAt(17, 0, 0));

    // 10 PM to 6 AM: the range does not wrap past midnight, so no hour is excluded.
    confirm({"10", true, "6", false, true});
    EXPECT_EQ(fakes.store.value(keys::UnattendedFrom), QStringLiteral("22"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedTo), QStringLiteral("6"));
    for (const int hour : {0, 3, 5, 22, 23})
        EXPECT_TRUE(passAt(hour, 30, 0)) << hour;
    ui().cmdStopPing->click();
}

TEST_F(ScheduleTest, StoredHoursShowOnTheTwelveHourClock) {
    const struct {
        const char* stored; // nullptr: missing, as on the first opening
        const char* shown;
        bool pm;
    } cases[] = {{nullptr, "12", false}, {"", "12", false},     {"0", "12", false},
                 {"12", "12", true},     {"13", "1", true},     {"23", "11", true},
                 {"7", "7", false},      {"abc", "abc", false}, {"7.5", "7.5", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "missing");
        fakes.store.values.clear();
        if (c.stored) {
            fakes.store.put(keys::UnattendedFrom, QString::fromLatin1(c.stored));
            fakes.store.put(keys::UnattendedTo, QString::fromLatin1(c.stored));
        }
        restart();
        const QString shown = QString::fromLatin1(c.shown); // not a whole number: as stored
        EXPECT_EQ(reopen(), (Shown{shown, c.pm, shown, c.pm, false}));
        EXPECT_EQ(state().unattendedState, QStringLiteral("False"));
        EXPECT_EQ(state().stateFlag, StateFlag::Yes);
    }
}

TEST_F(ScheduleTest, EnabledWithABadHourShowsTheMessageAndStoresNothing) {
    const std::pair<QString, QString> cases[] = {{"", "5"},   {"3", ""},    {"14", "5"},
                                                 {"3", "14"}, {"abc", "5"}, {"3", "4.5"}};
    for (const auto& [from, to] : cases) {
        SCOPED_TRACE(QString(from + " to " + to).toStdString());
        fakes.messages.shown.clear();
        openSchedule([&](frmSchedule& d) {
            Ui::frmSchedule& u = d.ui();
            u.txtFrom->setText(from);
            u.txtTo->setText(to);
            u.chkUnattended->setChecked(true);
            const auto writes = fakes.store.writes;
            QTest::mouseClick(u.cmdOK, Qt::LeftButton);
            EXPECT_EQ(fakes.messages.shown, std::vector{kInvalidTime});
            EXPECT_TRUE(d.isVisible());
            EXPECT_EQ(u.txtFrom->text(), from);
            EXPECT_EQ(u.txtTo->text(), to);
            EXPECT_EQ(fakes.store.writes, writes);
        });
        EXPECT_FALSE(fakes.store.value(keys::UnattendedFrom).has_value());
        EXPECT_EQ(state().unattendedState, QStringLiteral("False"));
    }
}

TEST_F(ScheduleTest, DisabledStoresTheHoursAsTheyStandAndKeepsThemForTheNextOpening) {
    confirm({"1", true, "5", true, true});
    confirm({"14", false, "15", true, false});
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_EQ(fakes.store.value(keys::Unattended), QStringLiteral("False"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedFrom), QStringLiteral("14"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedTo), QStringLiteral("27"));
    EXPECT_FALSE(ui().mnuUnattended->isChecked());
    EXPECT_EQ(reopen(), (Shown{"2", true, "15", true, false}));

    // Text that is no whole number is stored as typed.
    confirm({"abc", true, "", false, false});
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_EQ(fakes.store.value(keys::UnattendedFrom), QStringLiteral("abc"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedTo), QString());
}

TEST_F(ScheduleTest, CancelAndTheCloseBoxStoreNothingButTheOpeningSaveStands) {
    ui().txtAttempts->setText(QStringLiteral("4"));
    for (const bool cancel : {true, false}) {
        qsizetype writesAtOpening = -1;
        openSchedule([&](frmSchedule& d) {
            writesAtOpening = fakes.store.writes.size();
            d.ui().txtFrom->setText(QStringLiteral("3"));
            d.ui().chkUnattended->setChecked(true);
            if (cancel)
                QTest::mouseClick(d.ui().cmdCancel, Qt::LeftButton);
            else
                d.close();
            EXPECT_FALSE(d.isVisible());
        });
        EXPECT_EQ(fakes.store.writes.size(), writesAtOpening) << cancel;
        EXPECT_EQ(fakes.store.value(keys::Attempts), QStringLiteral("4"));
        EXPECT_FALSE(fakes.store.value(keys::UnattendedFrom).has_value());
        EXPECT_FALSE(ui().mnuUnattended->isChecked());
    }
}

TEST_F(ScheduleTest, TypingWrapsThirteenToOneAndZeroToTwelve) {
    openSchedule([&](frmSchedule& d) {
        QLineEdit* from = d.ui().txtFrom;
        QLineEdit* to = d.ui().txtTo;
        const struct {
            QLineEdit* box;
            const char* typed;
            const char* shown;
        } cases[] = {{from, "13", "1"},  {from, "0", "12"}, {from, "14", "14"}, {from, "-1", "-1"},
                     {from, "1x", "1x"}, {from, "7", "7"},  {to, "13", "1"}};
        for (const auto& c : cases) {
            c.box->clear();
            QTest::keyClicks(c.box, QString::fromLatin1(c.typed));
            EXPECT_EQ(c.box->text(), QString::fromLatin1(c.shown)) << c.typed;
        }
        // A box that comes to hold "00" (pasted, say) shows 12 as well.
        to->setText(QStringLiteral("00"));
        EXPECT_EQ(to->text(), QStringLiteral("12"));
    });
}

TEST_F(ScheduleTest, SpinnerCyclesThroughOneToTwelve) {
    openSchedule([&](frmSchedule& d) {
        QLineEdit* box = d.ui().txtFrom;
        box->setText(QStringLiteral("11"));
        QStringList seen;
        const std::pair<QToolButton*, int> clicks[] = {{d.ui().UpDown1->upButton(), 3},
                                                       {d.ui().UpDown1->downButton(), 4}};
        for (const auto& [button, times] : clicks) {
            for (int i = 0; i < times; ++i) {
                QTest::mouseClick(button, Qt::LeftButton);
                seen << box->text();
            }
        }
        EXPECT_EQ(seen.join(' '), QStringLiteral("12 1 2 1 12 11 10"));

        // The other spinner drives its own box only; the keyboard steps it too.
        d.ui().txtTo->setText(QStringLiteral("12"));
        d.ui().UpDown2->setFocus();
        QTest::keyClick(d.ui().UpDown2, Qt::Key_Up);
        EXPECT_EQ(d.ui().txtTo->text(), QStringLiteral("1"));
        EXPECT_EQ(box->text(), QStringLiteral("10"));
        // Text that is no number steps on from the spinner's own position.
        box->setText(QStringLiteral("x"));
        QTest::mouseClick(d.ui().UpDown1->upButton(), Qt::LeftButton);
        EXPECT_EQ(box->text(), QStringLiteral("11"));
    });
}

TEST_F(ScheduleTest, LabelClicksToggleTheBoxBesideThem) {
    openSchedule([&](frmSchedule& d) {
        Ui::frmSchedule& u = d.ui();
        const std::pair<QLabel*, QCheckBox*> pairs[] = {
            {u.Label1, u.chkPMFrom}, {u.Label2, u.chkPMTo}, {u.lblUnattended, u.chkUnattended}};
        for (const auto& [label, box] : pairs) {
            SCOPED_TRACE(label->objectName().toStdString());
            const bool before = box->isChecked();
            QTest::mouseClick(label, Qt::LeftButton);
            EXPECT_NE(box->isChecked(), before);
            QTest::mouseClick(label, Qt::LeftButton);
            EXPECT_EQ(box->isChecked(), before);
            // A greyed box counts as not checked: a click checks it.
            box->setTristate(true);
            box->setCheckState(Qt::PartiallyChecked);
            QTest::mouseClick(label, Qt::LeftButton);
            EXPECT_EQ(box->checkState(), Qt::Checked);
        }
        state().stateFlag = StateFlag::Dont;
        QTest::mouseClick(u.Label1, Qt::LeftButton);
        EXPECT_EQ(u.chkPMFrom->checkState(), Qt::Checked);
        state().stateFlag = StateFlag::Yes;
    });
}

TEST_F(ScheduleTest, TheMonitorKeepsTickingWhileTheDialogIsOpen) {
    ui().lstIPList->addItem(QStringLiteral("127.0.0.1"));
    ui().cmdStartPing->setEnabled(true);
    ui().optMilSeconds->setChecked(true);
    ui().txtInterval->setText(QStringLiteral("1"));
    ui().cmdStartPing->click();
    ASSERT_TRUE(window->monitor().timer1().isActive());
    std::size_t atOpening = 0;
    std::size_t atClosing = 0;
    // Watch from inside the dialog's modal loop; give up after 10 s rather than hang.
    openSchedule(
        [&](frmSchedule& d) {
            atOpening = fakes.echo.calls.size();
            auto* watch = new QTimer(&d);
            QObject::connect(watch, &QTimer::timeout, &d, [&, polls = 0]() mutable {
                if (fakes.echo.calls.size() > atOpening || ++polls > 1000) {
                    atClosing = fakes.echo.calls.size();
                    d.ui().cmdCancel->click();
                }
            });
            watch->start(10);
        },
        true);
    EXPECT_GT(atClosing, atOpening);
    ui().cmdStopPing->click();
}

} // namespace
} // namespace ew::test
