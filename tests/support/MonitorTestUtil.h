#pragma once

// A loaded main window on fakes, ready for passes and ticks: default settings, no logging.

#include "core/Convert.h"
#include "core/TimeText.h"
#include "monitor/Monitor.h"
#include "monitor/PingPass.h"
#include "support/MainWindowFixture.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace ew::test {

// The result lines, spelt out piece by piece.
inline QString replyText(const QString& time, const QString& address, int ms) {
    return QChar(0x001A) + QStringLiteral(" ") + time + QStringLiteral(" Reply from ") + address +
           QStringLiteral(", Time:") + QString::number(ms) + QStringLiteral(" ms");
}
inline QString failureText(const QString& time, const QString& address) {
    return QChar(0x2020) + QStringLiteral(" ") + time + QStringLiteral(" Ping to  ") + address +
           QStringLiteral(" --== F A I L E D ==-- ");
}

class PassTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        load();
        ui().txtNumBytes->setText(QStringLiteral("16"));
        ui().txtTimeout->setText(QStringLiteral("3"));
        setAttempts(1);
        setCheckValue(*ui().chkBeep, 0);
        setCheckValue(*ui().chkLogTotal, 0);
        setCheckValue(*ui().chkLogFailed, 0);
    }

    void addAddress(const QString& address) { ui().lstIPList->addItem(address); }
    void setAttempts(int n) { ui().txtAttempts->setText(QString::number(n)); }
    void pass() { window->pingPass().PingAddresses(); }
    QStringList results() { return ui().lstPingResults->lines(); }
    QString panel(int n) { return ui().StatusBar1->panelText(n); }
    Monitor& monitor() { return window->monitor(); }
    QTimer& timer1() { return monitor().timer1(); }
    int passesSoFar() const { return static_cast<int>(fakes.echo.calls.size()); }
    static QString at(int h, int m, int s) { return timeOfDayText(QTime(h, m, s)); }

    // Logging into a file of a fresh temporary folder.
    QString logPath() const { return logDir.filePath(QStringLiteral("ping.log")); }
    void logTo(bool total, bool failed) {
        ui().txtLog->setText(logPath());
        setCheckValue(*ui().chkLogTotal, total ? 1 : 0);
        setCheckValue(*ui().chkLogFailed, failed ? 1 : 0);
    }
    // The result lines of the log (CR LF ends), without the header blocks.
    QStringList loggedResults() const {
        QFile f(logPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QString& l : QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n")))
            if (l.startsWith(QChar(0x1A)) || l.startsWith(QChar(0x2020)))
                out << l;
        return out;
    }
    // How often a run's header line stands in the log.
    int loggedHeaders() const {
        QFile f(logPath());
        return f.open(QIODevice::ReadOnly) ? static_cast<int>(f.readAll().count("Started log on"))
                                           : 0;
    }

    QTemporaryDir logDir;
};

} // namespace ew::test
