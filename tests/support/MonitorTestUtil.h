#pragma once

// A loaded main window on fakes, ready for passes and ticks: the default settings, no logging,
// helpers for the expected result lines and the log file.

#include "app/Convert.h"
#include "app/ResultsList.h"
#include "app/StatusBar.h"
#include "app/TimeText.h"
#include "monitor/Monitor.h"
#include "monitor/PingPass.h"
#include "support/MainWindowFixture.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace ew::test {

class PassTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
        ui().txtNumBytes->setText(QStringLiteral("16"));
        ui().txtTimeout->setText(QStringLiteral("3"));
        ui().txtAttempts->setText(QStringLiteral("1"));
        setCheckValue(*ui().chkBeep, 0);
        setCheckValue(*ui().chkLogTotal, 0);
        setCheckValue(*ui().chkLogFailed, 0);
    }

    void addAddress(const QString& address) { ui().lstIPList->addItem(address); }
    void pass() { window->pingPass().PingAddresses(); }
    QStringList results() { return ui().lstPingResults->lines(); }
    QString panel(int n) { return ui().StatusBar1->panelText(n); }
    Monitor& monitor() { return window->monitor(); }
    QTimer& timer1() { return monitor().timer1(); }
    int passesSoFar() const { return static_cast<int>(fakes.echo.calls.size()); }

    static QString at(int h, int m, int s) { return timeOfDayText(QTime(h, m, s)); }
    // The result lines, spelt out piece by piece.
    static QString replyText(const QString& time, const QString& address, int ms) {
        return QChar(0x001A) + QStringLiteral(" ") + time + QStringLiteral(" Reply from ") +
               address + QStringLiteral(", Time:") + QString::number(ms) + QStringLiteral(" ms");
    }
    static QString failureText(const QString& time, const QString& address) {
        return QChar(0x2020) + QStringLiteral(" ") + time + QStringLiteral(" Ping to  ") + address +
               QStringLiteral(" --== F A I L E D ==-- ");
    }

    // Logging into a file of a fresh temporary folder.
    QString logPath() const { return logDir.filePath(QStringLiteral("ping.log")); }
    void logTo(bool total, bool failed) {
        ui().txtLog->setText(logPath());
        setCheckValue(*ui().chkLogTotal, total ? 1 : 0);
        setCheckValue(*ui().chkLogFailed, failed ? 1 : 0);
    }
    // The lines of the log file (CR LF line ends).
    QStringList logLines() const {
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList lines = QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"));
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        return lines;
    }
    // Only the result lines of the log, without the header blocks.
    QStringList loggedResults() const {
        QStringList out;
        for (const QString& l : logLines())
            if (l.startsWith(QChar(0x1A)) || l.startsWith(QChar(0x2020)))
                out << l;
        return out;
    }

    QTemporaryDir logDir;
};

} // namespace ew::test
