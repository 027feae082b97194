#include "monitor/Monitor.h"
#include "schedule/Schedule.h"
#include "schedule/UpDown.h"
#include "schedule/frmSchedule.h"
#include "settings/SettingsKeys.h"
#include "support/MainWindowFixture.h"
#include "ui_frmSchedule.h"

#include <QKeyEvent>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <functional>

namespace ew::test {
namespace {

const QString kInvalidTime = QStringLiteral("Please enter valid time");

class ScheduleTest : public MainWindowTest {
protected:
    // Opens the dialog from the File menu and runs drive just before its modal loop. Unless
    // asked to keep it open (for drive's own timers), a dialog left open is closed with its
    // close box, which stores nothing.
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
    void confirm(const QString& from, bool fromPM, const QString& to, bool toPM, bool enabled) {
        openSchedule([&](frmSchedule& d) {
            Ui::frmSchedule& u = d.ui();
            u.txtFrom->setText(from);
            u.chkPMFrom->setChecked(fromPM);
            u.txtTo->setText(to);
            u.chkPMTo->setChecked(toPM);
            u.chkUnattended->setChecked(enabled);
            QTest::mouseClick(u.cmdOK, Qt::LeftButton);
            EXPECT_FALSE(d.isVisible());
        });
    }

    // The hours of the store as the dialog would show them on the next opening.
    struct Shown {
        QString from;
        bool fromPM;
        QString to;
        bool toPM;
        bool enabled;
    };
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

TEST_F(ScheduleTest, DesignNamesCaptionsTabOrderAndNoDefaultButton) {
    load();
    openSchedule([&](frmSchedule& d) {
        Ui::frmSchedule& u = d.ui();
        EXPECT_EQ(d.objectName(), QStringLiteral("frmSchedule"));
        EXPECT_EQ(d.windowTitle(), QStringLiteral("Schedule"));
        EXPECT_TRUE(d.isModal());
        EXPECT_EQ(d.windowModality(), Qt::ApplicationModal);
        EXPECT_EQ(u.Frame1->title(), QStringLiteral("Select time range to exclude"));
        EXPECT_EQ(u.Label3->text(), QStringLiteral("From:"));
        EXPECT_EQ(u.Label4->text(), QStringLiteral("To:"));
        EXPECT_TRUE(u.Label3->font().bold());
        EXPECT_EQ(u.Label1->text(), QStringLiteral("PM"));
        EXPECT_EQ(u.Label2->text(), QStringLiteral("PM"));
        EXPECT_EQ(u.lblUnattended->text(), QStringLiteral("Enable scheduling"));
        EXPECT_TRUE(u.lblUnattended->font().bold());
        EXPECT_EQ(u.cmdOK->text(), QStringLiteral("O.K."));
        EXPECT_EQ(u.cmdCancel->text(), QStringLiteral("Cancel"));
        EXPECT_TRUE(u.chkPMFrom->text().isEmpty());
        EXPECT_TRUE(u.chkUnattended->text().isEmpty());
        for (QPushButton* b : {u.cmdOK, u.cmdCancel}) {
            EXPECT_FALSE(b->isDefault()) << b->objectName().toStdString();
            EXPECT_FALSE(b->autoDefault()) << b->objectName().toStdString();
        }
        EXPECT_EQ(u.UpDown1->buddy(), u.txtFrom);
        EXPECT_EQ(u.UpDown2->buddy(), u.txtTo);
        EXPECT_EQ(u.UpDown1->minimum(), 0);
        EXPECT_EQ(u.UpDown1->maximum(), 13);
        EXPECT_EQ(u.txtFrom->size(), QSize(25, 19));
        EXPECT_EQ(u.cmdOK->size(), QSize(81, 25));
        EXPECT_EQ(d.size(), QSize(241, 153));

        const QStringList order = {QStringLiteral("txtFrom"),      QStringLiteral("UpDown1"),
                                   QStringLiteral("txtTo"),        QStringLiteral("UpDown2"),
                                   QStringLiteral("chkPMFrom"),    QStringLiteral("chkPMTo"),
                                   QStringLiteral("cmdOK"),        QStringLiteral("cmdCancel"),
                                   QStringLiteral("chkUnattended")};
        QWidget* w = u.txtFrom;
        for (const QString& name : order) {
            EXPECT_EQ(w->objectName(), name);
            w = w->nextInFocusChain();
            while (w->focusPolicy() == Qt::NoFocus || !w->isVisibleTo(&d))
                w = w->nextInFocusChain();
        }

        // Centred on the screen.
        const QRect screen = d.screen()->geometry();
        EXPECT_LE(std::abs(d.frameGeometry().center().x() - screen.center().x()), 1);
        EXPECT_LE(std::abs(d.frameGeometry().center().y() - screen.center().y()), 1);
    });
}

TEST_F(ScheduleTest, FirstOpeningWithAnEmptyStoreShowsMidnightAndTheModeOff) {
    load();
    const Shown s = reopen();
    EXPECT_EQ(s.from, QStringLiteral("12"));
    EXPECT_FALSE(s.fromPM);
    EXPECT_EQ(s.to, QStringLiteral("12"));
    EXPECT_FALSE(s.toPM);
    EXPECT_FALSE(s.enabled);
    EXPECT_EQ(state().unattendedState, QStringLiteral("False"));
    EXPECT_EQ(state().stateFlag, StateFlag::Yes);
}

TEST_F(ScheduleTest, OpeningSavesTheSettingsAndTakesTheModeFromTheCheckMark) {
    load();
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

struct Conversion {
    const char* from;
    bool fromPM;
    const char* to;
    bool toPM;
    const char* storedFrom;
    const char* storedTo;
    int fromHour;
    int toHour;
};

class ScheduleConversion : public ScheduleTest, public ::testing::WithParamInterface<Conversion> {};

TEST_P(ScheduleConversion, EnabledStoresTheHoursOfTheDayAndReopensAsShown) {
    const Conversion& c = GetParam();
    load();
    confirm(QString::fromLatin1(c.from), c.fromPM, QString::fromLatin1(c.to), c.toPM, true);

    // The three keys, in this order, after the save made on opening.
    ASSERT_GE(fakes.store.writes.size(), 3);
    EXPECT_EQ(fakes.store.writes.mid(fakes.store.writes.size() - 3),
              QStringList({QStringLiteral("Unattended=True"),
                           QStringLiteral("UnattendedTo=") + QString::fromLatin1(c.storedTo),
                           QStringLiteral("UnattendedFrom=") + QString::fromLatin1(c.storedFrom)}));
    EXPECT_EQ(state().unattendedFromHour, c.fromHour);
    EXPECT_EQ(state().unattendedToHour, c.toHour);
    EXPECT_EQ(state().unattendedState, QStringLiteral("True"));
    EXPECT_TRUE(ui().mnuUnattended->isChecked()) << "re-read through ReadSettings";

    // The next opening shows the hours as they were entered.
    const Shown s = reopen();
    EXPECT_EQ(s.from, QString::fromLatin1(c.from));
    EXPECT_EQ(s.fromPM, c.fromPM);
    EXPECT_EQ(s.to, QString::fromLatin1(c.to));
    EXPECT_EQ(s.toPM, c.toPM);
    EXPECT_TRUE(s.enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Hours, ScheduleConversion,
    ::testing::Values(Conversion{"1", true, "5", true, "13", "17", 13, 17},
                      Conversion{"12", true, "12", false, "12", "0", 12, 0},
                      Conversion{"11", true, "9", false, "23", "9", 23, 9},
                      // An hour that stays as shown is stored as the box's text.
                      Conversion{"09", false, "10", true, "09", "22", 9, 22}));

TEST_F(ScheduleTest, TheMonitorSkipsPassesOnlyInsideTheStoredRange) {
    load();
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
    confirm(QStringLiteral("1"), true, QStringLiteral("5"), true, true);
    ASSERT_TRUE(ui().mnuUnattended->isChecked());
    EXPECT_TRUE(passAt(12, 59, 59));
    EXPECT_FALSE(passAt(13, 0, 0));
    EXPECT_EQ(window->monitor().timer1().interval(), 60000);
    EXPECT_FALSE(passAt(16, 59, 59));
    EXPECT_TRUE(passAt(17, 0, 0));

    // 10 PM to 6 AM: the range does not wrap past midnight, so no hour is excluded.
    confirm(QStringLiteral("10"), true, QStringLiteral("6"), false, true);
    EXPECT_EQ(fakes.store.value(keys::UnattendedFrom), QStringLiteral("22"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedTo), QStringLiteral("6"));
    for (const int hour : {0, 3, 5, 22, 23})
        EXPECT_TRUE(passAt(hour, 30, 0)) << hour;
    ui().cmdStopPing->click();
}

struct Reload {
    const char* stored; // nullptr: missing
    const char* shown;
    bool pm;
};

class ScheduleReload : public ScheduleTest, public ::testing::WithParamInterface<Reload> {};

TEST_P(ScheduleReload, StoredHourShowsOnTheTwelveHourClock) {
    const Reload& r = GetParam();
    if (r.stored) {
        fakes.store.put(keys::UnattendedFrom, QString::fromLatin1(r.stored));
        fakes.store.put(keys::UnattendedTo, QString::fromLatin1(r.stored));
    }
    load();
    const Shown s = reopen();
    EXPECT_EQ(s.from, QString::fromLatin1(r.shown));
    EXPECT_EQ(s.fromPM, r.pm);
    EXPECT_EQ(s.to, QString::fromLatin1(r.shown));
    EXPECT_EQ(s.toPM, r.pm);
}

INSTANTIATE_TEST_SUITE_P(Hours, ScheduleReload,
                         ::testing::Values(Reload{nullptr, "12", false}, Reload{"", "12", false},
                                           Reload{"0", "12", false}, Reload{"12", "12", true},
                                           Reload{"13", "1", true}, Reload{"23", "11", true},
                                           Reload{"7", "7", false},
                                           // Not a whole number: shown as stored, no crash.
                                           Reload{"abc", "abc", false},
                                           Reload{"7.5", "7.5", false}));

struct Rejected {
    const char* from;
    const char* to;
};

class ScheduleRejected : public ScheduleTest, public ::testing::WithParamInterface<Rejected> {};

TEST_P(ScheduleRejected, EnabledWithABadHourShowsTheMessageAndStoresNothing) {
    const Rejected& r = GetParam();
    load();
    openSchedule([&](frmSchedule& d) {
        Ui::frmSchedule& u = d.ui();
        u.txtFrom->setText(QString::fromLatin1(r.from));
        u.txtTo->setText(QString::fromLatin1(r.to));
        u.chkUnattended->setChecked(true);
        const auto writes = fakes.store.writes;
        QTest::mouseClick(u.cmdOK, Qt::LeftButton);
        ASSERT_EQ(fakes.messages.shown.size(), 1u);
        const auto& box = fakes.messages.shown.front();
        EXPECT_EQ(box.text, kInvalidTime);
        EXPECT_EQ(box.title, QStringLiteral("EchoWarden"));
        EXPECT_EQ(box.icon, MsgIcon::None);
        EXPECT_EQ(box.buttons, MsgButtons::Ok);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(u.txtFrom->text(), QString::fromLatin1(r.from));
        EXPECT_EQ(u.txtTo->text(), QString::fromLatin1(r.to));
        EXPECT_EQ(fakes.store.writes, writes);
    });
    EXPECT_FALSE(fakes.store.value(keys::UnattendedFrom).has_value());
    EXPECT_EQ(state().unattendedState, QStringLiteral("False"));
}

INSTANTIATE_TEST_SUITE_P(Hours, ScheduleRejected,
                         ::testing::Values(Rejected{"", "5"}, Rejected{"3", ""},
                                           Rejected{"14", "5"}, Rejected{"3", "14"},
                                           Rejected{"abc", "5"}, Rejected{"3", "4.5"}));

TEST_F(ScheduleTest, DisabledStoresTheHoursAsTheyStandAndKeepsThemForTheNextOpening) {
    load();
    confirm(QStringLiteral("1"), true, QStringLiteral("5"), true, true);
    confirm(QStringLiteral("14"), false, QStringLiteral("15"), true, false);
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_EQ(fakes.store.value(keys::Unattended), QStringLiteral("False"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedFrom), QStringLiteral("14"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedTo), QStringLiteral("27"));
    EXPECT_FALSE(ui().mnuUnattended->isChecked());
    const Shown s = reopen();
    EXPECT_EQ(s.from, QStringLiteral("2"));
    EXPECT_TRUE(s.fromPM);
    EXPECT_EQ(s.to, QStringLiteral("15"));
    EXPECT_FALSE(s.enabled);

    // Text that is no whole number is stored as typed.
    confirm(QStringLiteral("abc"), true, QString(), false, false);
    EXPECT_TRUE(fakes.messages.shown.empty());
    EXPECT_EQ(fakes.store.value(keys::UnattendedFrom), QStringLiteral("abc"));
    EXPECT_EQ(fakes.store.value(keys::UnattendedTo), QString());
}

TEST_F(ScheduleTest, CancelAndTheCloseBoxStoreNothingButTheOpeningSaveStands) {
    load();
    ui().txtAttempts->setText(QStringLiteral("4"));
    int writesAtOpening = -1;
    openSchedule([&](frmSchedule& d) {
        writesAtOpening = fakes.store.writes.size();
        d.ui().txtFrom->setText(QStringLiteral("3"));
        d.ui().chkUnattended->setChecked(true);
        QTest::mouseClick(d.ui().cmdCancel, Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(fakes.store.writes.size(), writesAtOpening);
    EXPECT_EQ(fakes.store.value(keys::Attempts), QStringLiteral("4"));
    EXPECT_FALSE(fakes.store.value(keys::UnattendedFrom).has_value());
    EXPECT_FALSE(ui().mnuUnattended->isChecked());

    openSchedule([&](frmSchedule& d) {
        writesAtOpening = fakes.store.writes.size();
        d.ui().txtFrom->setText(QStringLiteral("3"));
        d.close();
        EXPECT_FALSE(d.isVisible());
    });
    EXPECT_EQ(fakes.store.writes.size(), writesAtOpening);
}

TEST_F(ScheduleTest, EnterAndEscPressNothingAndEscDoesNotClose) {
    load();
    openSchedule([&](frmSchedule& d) {
        const auto writes = fakes.store.writes;
        for (QWidget* focus :
             {static_cast<QWidget*>(d.ui().txtFrom), static_cast<QWidget*>(d.ui().cmdOK),
              static_cast<QWidget*>(d.ui().cmdCancel)}) {
            focus->setFocus();
            for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
                QTest::keyClick(focus, static_cast<Qt::Key>(key));
                EXPECT_TRUE(d.isVisible()) << focus->objectName().toStdString() << " " << key;
            }
        }
        EXPECT_EQ(fakes.store.writes, writes);
        EXPECT_TRUE(fakes.messages.shown.empty());
    });
}

TEST_F(ScheduleTest, TypingWrapsThirteenToOneAndZeroToTwelve) {
    load();
    openSchedule([&](frmSchedule& d) {
        QLineEdit* box = d.ui().txtFrom;
        const struct {
            const char* typed;
            const char* shown;
        } cases[] = {{"13", "1"},  {"0", "12"},  {"14", "14"},
                     {"-1", "-1"}, {"1x", "1x"}, {"7", "7"}};
        for (const auto& c : cases) {
            box->clear();
            QTest::keyClicks(box, QString::fromLatin1(c.typed));
            EXPECT_EQ(box->text(), QString::fromLatin1(c.shown)) << c.typed;
        }
        d.ui().txtTo->clear();
        QTest::keyClicks(d.ui().txtTo, QStringLiteral("13"));
        EXPECT_EQ(d.ui().txtTo->text(), QStringLiteral("1"));
        // A box that comes to hold "00" (pasted, say) shows 12 as well.
        d.ui().txtTo->setText(QStringLiteral("00"));
        EXPECT_EQ(d.ui().txtTo->text(), QStringLiteral("12"));
    });
}

TEST_F(ScheduleTest, SpinnerCyclesThroughOneToTwelve) {
    load();
    openSchedule([&](frmSchedule& d) {
        QLineEdit* box = d.ui().txtFrom;
        QToolButton* up = d.ui().UpDown1->upButton();
        QToolButton* down = d.ui().UpDown1->downButton();
        box->setText(QStringLiteral("11"));
        QStringList seen;
        for (int i = 0; i < 3; ++i) {
            QTest::mouseClick(up, Qt::LeftButton);
            seen << box->text();
        }
        for (int i = 0; i < 4; ++i) {
            QTest::mouseClick(down, Qt::LeftButton);
            seen << box->text();
        }
        EXPECT_EQ(seen, QStringList({"12", "1", "2", "1", "12", "11", "10"}));

        // The other spinner drives its own box only; the keyboard steps it too.
        d.ui().txtTo->setText(QStringLiteral("12"));
        d.ui().UpDown2->setFocus();
        QTest::keyClick(d.ui().UpDown2, Qt::Key_Up);
        EXPECT_EQ(d.ui().txtTo->text(), QStringLiteral("1"));
        EXPECT_EQ(box->text(), QStringLiteral("10"));
        // Text that is no number steps on from the spinner's own position.
        box->setText(QStringLiteral("x"));
        QTest::mouseClick(up, Qt::LeftButton);
        EXPECT_EQ(box->text(), QStringLiteral("11"));
    });
}

TEST_F(ScheduleTest, LabelClicksToggleTheBoxBesideThem) {
    load();
    openSchedule([&](frmSchedule& d) {
        Ui::frmSchedule& u = d.ui();
        const std::pair<QLabel*, QCheckBox*> pairs[] = {
            {u.Label1, u.chkPMFrom}, {u.Label2, u.chkPMTo}, {u.lblUnattended, u.chkUnattended}};
        for (const auto& [label, box] : pairs) {
            const bool before = box->isChecked();
            QTest::mouseClick(label, Qt::LeftButton);
            EXPECT_NE(box->isChecked(), before) << label->objectName().toStdString();
            QTest::mouseClick(label, Qt::LeftButton);
            EXPECT_EQ(box->isChecked(), before) << label->objectName().toStdString();
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
    load();
    ui().lstIPList->addItem(QStringLiteral("127.0.0.1"));
    ui().cmdStartPing->setEnabled(true);
    ui().optMilSeconds->setChecked(true);
    ui().txtInterval->setText(QStringLiteral("1"));
    ui().cmdStartPing->click();
    ASSERT_TRUE(window->monitor().timer1().isActive());
    std::size_t atOpening = 0;
    std::size_t atClosing = 0;
    openSchedule(
        [&](frmSchedule& d) {
            atOpening = fakes.echo.calls.size();
            auto close = [&] {
                atClosing = fakes.echo.calls.size();
                d.ui().cmdCancel->click();
            };
            // Watch from inside the dialog's modal loop; give up rather than hang.
            auto* watch = new QTimer(&d);
            QObject::connect(watch, &QTimer::timeout, &d, [&, close] {
                if (fakes.echo.calls.size() > atOpening)
                    close();
            });
            watch->start(10);
            QTimer::singleShot(10000, &d, close);
        },
        true);
    EXPECT_GT(atClosing, atOpening);
    ui().cmdStopPing->click();
}

} // namespace
} // namespace ew::test
