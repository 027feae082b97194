#pragma once

#include "core/Convert.h"
#include "core/TimeText.h"
#include "monitor/Monitor.h"
#include "monitor/PingPass.h"
#include "support/MainWindowFixture.h"
#include "widgets/ResultsList.h"
#include "widgets/StatusBar.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace ew::test {

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
    void pass() { window->pingPass().PingAddresses(); }
    QStringList results() { return ui().lstPingResults->lines(); }
    Monitor& monitor() { return window->monitor(); }
    int passesSoFar() const { return static_cast<int>(fakes.echo.calls.size()); }
    static QString at(int h, int m, int s) { return timeOfDayText(QTime(h, m, s)); }

    // Logging into a file of a fresh temporary folder; its result lines (CR LF ends).
    QString logPath() const { return logDir.filePath(QStringLiteral("ping.log")); }
    void logTo(bool total, bool failed) {
        ui().txtLog->setText(logPath());
        setCheckValue(*ui().chkLogTotal, total ? 1 : 0);
        setCheckValue(*ui().chkLogFailed, failed ? 1 : 0);
    }
    QStringList loggedResults() const {
        QFile f(logPath());
        const auto lines = QString::fromUtf8(f.open(QIODevice::ReadOnly) ? f.readAll() : "");
        return lines.split(QStringLiteral("\r\n"))
            .filter(QRegularExpression(QStringLiteral("^[\\x{1A}\\x{2020}]")));
    }

    QTemporaryDir logDir;
};

} // namespace ew::test
