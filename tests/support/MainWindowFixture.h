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

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
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
    void SetUp() override { window = makeWindow(); }
    void TearDown() override { window.reset(); }

    std::unique_ptr<frmEchoWarden> makeWindow() {
        auto w = std::make_unique<frmEchoWarden>(fakes.platform());
        w->setEndProgram([this] { ++endRequests; });
        return w;
    }
    void load() { window->Form_Load(); }
    // The program started again on the same store.
    void restart() {
        window.reset();
        window = makeWindow();
        load();
    }
    Ui::frmEchoWarden& ui() { return window->ui(); }
    ProgramState& state() { return window->state(); }
    QStringList ipList() { return texts(*ui().lstIPList); }

    FakePlatform fakes;
    std::unique_ptr<frmEchoWarden> window;
    int endRequests = 0;
};

struct ShownSettings {
    QString log;
    QStringList numbers; // packet size, time-out, interval, attempts
    QList<int> options;  // minutes, seconds, tenth-seconds selected
    QList<int> checks;   // beep, log all, log failed (0, 1, 2)
    QList<int> marks;    // save on exit, unattended, ping at once, notify checked
    QStringList addresses = {};
    bool operator==(const ShownSettings&) const = default;
};

inline ShownSettings shown(Ui::frmEchoWarden& ui) {
    ShownSettings s{
        ui.txtLog->text(),
        {ui.txtNumBytes->text(), ui.txtTimeout->text(), ui.txtInterval->text(),
         ui.txtAttempts->text()},
        {ui.optMinutes->isChecked(), ui.optSeconds->isChecked(), ui.optMilSeconds->isChecked()},
        {checkValue(*ui.chkBeep), checkValue(*ui.chkLogTotal), checkValue(*ui.chkLogFailed)},
        {ui.mnuSSave->isChecked(), ui.mnuUnattended->isChecked(), ui.mnuPingAtOnce->isChecked(),
         ui.mnuNotify->isChecked()}};
    s.addresses = texts(*ui.lstIPList);
    return s;
}

// What a first run with an empty store shows.
inline ShownSettings firstRun() {
    return {LogFile::defaultLogPath(), {"16", "3", "5", "1"}, {1, 0, 0}, {0, 0, 0}, {1, 0, 0, 1}};
}

inline QString replyText(const QString& time, const QString& address, int ms) {
    return QChar(0x001A) + QStringLiteral(" ") + time + QStringLiteral(" Reply from ") + address +
           QStringLiteral(", Time:") + QString::number(ms) + QStringLiteral(" ms");
}
inline QString failureText(const QString& time, const QString& address) {
    return QChar(0x2020) + QStringLiteral(" ") + time + QStringLiteral(" Ping to  ") + address +
           QStringLiteral(" --== F A I L E D ==-- ");
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
        QTimer wake; // the loop below looks at the pass at least this often
        wake.start(20);
        QElapsedTimer t;
        t.start();
        while (window->pingPass().running() && t.elapsed() < limitMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return !window->pingPass().running();
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
