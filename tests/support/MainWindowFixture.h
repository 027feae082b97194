#pragma once

// The main window on fakes, and what the tests read back from it.

#include "app/frmEchoWarden.h"
#include "core/TimeText.h"
#include "editors/LogFile.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "monitor/MonitorControls.h"
#include "panel/CheckValue.h"
#include "support/Fakes.h"
#include "ui_frmEchoWarden.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace ew::test {

inline QStringList texts(const QListWidget& list) {
    QStringList out;
    for (int i = 0; i < list.count(); ++i)
        out << list.item(i)->text();
    return out;
}

// A main window on fakes, not yet loaded: tests prepare the store, then call load().
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { makeWindow(); }
    // The program (again, on the same store).
    void makeWindow() {
        window.reset();
        window = std::make_unique<frmEchoWarden>(fakes.platform());
        window->setEndProgram([this] { ++endRequests; });
    }
    void load() { window->Form_Load(); }
    void restart() {
        makeWindow();
        load();
    }
    Ui::frmEchoWarden& ui() { return window->ui(); }
    ProgramState& state() { return window->state(); }
    QStringList ipList() { return texts(*ui().lstIPList); }

    FakePlatform fakes;
    std::unique_ptr<frmEchoWarden> window;
    int endRequests = 0;
};

// What the window shows of the settings: "log | packet size, time-out, interval, attempts |
// minutes, seconds, tenths selected | beep, log all, log failed (0, 1, 2) | save on exit,
// unattended, ping at once, notify checked | addresses".
inline QString shown(Ui::frmEchoWarden& ui) {
    const auto on = [](auto*... b) -> QString {
        return (QString() + ... + QChar(b->isChecked() ? '1' : '0'));
    };
    const auto check = [](const QCheckBox& b) { return QString::number(checkValue(b)); };
    return QStringList{ui.txtLog->text(),
                       QStringList{ui.txtNumBytes->text(), ui.txtTimeout->text(),
                                   ui.txtInterval->text(), ui.txtAttempts->text()}
                           .join(' '),
                       on(ui.optMinutes, ui.optSeconds, ui.optMilSeconds),
                       check(*ui.chkBeep) + check(*ui.chkLogTotal) + check(*ui.chkLogFailed),
                       on(ui.mnuSSave, ui.mnuUnattended, ui.mnuPingAtOnce, ui.mnuNotify),
                       texts(*ui.lstIPList).join(' ')}
        .join(QStringLiteral(" | "));
}

inline QString replyText(const QString& time, const QString& address, int ms) {
    return QStringLiteral("\u001A %1 Reply from %2, Time:%3 ms").arg(time, address).arg(ms);
}
inline QString failureText(const QString& time, const QString& address) {
    return QStringLiteral("\u2020 %1 Ping to  %2 --== F A I L E D ==-- ").arg(time, address);
}

// A loaded main window on fakes, ready for passes and ticks, with the defaults of an empty
// store: 16 bytes, 3 s, one attempt, no beep, no logging.
class PassTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
    }

    void addAddress(const QString& address) { ui().lstIPList->addItem(address); }
    void setAttempts(int n) { ui().txtAttempts->setText(QString::number(n)); }
    void pass() {
        window->pingPass().PingAddresses();
        settle();
    }
    // Runs the event loop until the pass in progress has ended (or limitMs has passed).
    bool settle(int limitMs = 20000) {
        return QTest::qWaitFor([this] { return !window->pingPass().running(); }, limitMs);
    }
    QStringList results() { return ui().lstPingResults->lines(); }
    Monitor& monitor() { return window->monitor(); }
    MonitorControls& monitorControls() { return window->monitorControls(); }
    int passesSoFar() const { return static_cast<int>(fakes.echo.calls.size()); }
    static QString at(int h, int m, int s) { return timeOfDayText(QTime(h, m, s)); }

    // Logging (once a box asks for it) into a file of a fresh temporary folder; its result
    // lines (CR LF ends).
    QString logPath() const { return logDir.filePath(QStringLiteral("ping.log")); }
    QStringList loggedResults() const {
        QFile f(logPath());
        const auto lines = QString::fromUtf8(f.open(QIODevice::ReadOnly) ? f.readAll() : "");
        return lines.split(QStringLiteral("\r\n"))
            .filter(QRegularExpression(QStringLiteral("^[\\x{1A}\\x{2020}]")));
    }

    QTemporaryDir logDir;
};

} // namespace ew::test
