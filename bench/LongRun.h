#pragma once

// What the long-run benchmarks share: the process's own figures from /proc, the logged run of
// many passes through the real window on fakes, and real echoes over loopback while another
// program floods it.

#include "BenchSupport.h"
#include "EchoChain.h"
#include "app/frmEchoWarden.h"
#include "engine/PingPass.h"
#include "platform/Echo.h"
#include "settings/SettingsKeys.h"
#include "support/Fakes.h"
#include "ui_frmEchoWarden.h"
#include "widgets/ResultsList.h"

#include <QCoreApplication>
#include <QProcess>

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

namespace ew::faults {

// A "Name:   1234 kB" line of /proc/self/status, in kB; -1 when missing.
inline long statusKb(const std::string& name) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(name + ":"))
            return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}
inline long residentKb() {
    return statusKb("VmRSS");
}
inline long peakResidentKb() {
    return statusKb("VmHWM");
}

inline int openFileCount() {
    int n = -1; // the directory stream itself
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (const dirent* e = ::readdir(dir))
            n += e->d_name[0] != '.';
        ::closedir(dir);
    }
    return n;
}

// The logged run: ten addresses of five attempts each, every attempt logged to logPath, the
// fake echo answering at once without keeping a record of its calls. Call before Form_Load.
constexpr int Addresses = 10;
constexpr int AttemptsPerAddress = 5;
inline void prepareLongRun(test::FakePlatform& fakes, const QString& logPath) {
    QString list;
    for (int i = 0; i < Addresses; ++i)
        list += QStringLiteral("host%1,").arg(i);
    fakes.store.put(keys::IPList, list);
    fakes.store.put(keys::Attempts, QString::number(AttemptsPerAddress));
    fakes.store.put(keys::EnableLoggingTotal, QStringLiteral("1"));
    fakes.store.put(keys::LogFilePath, logPath);
    fakes.echo.recordCalls = false;
}

// Runs passes until at least attempts were made, back in the event loop between passes as the
// program is, calling afterPass after each. Gives the most lines the results list ever held,
// looked at before every attempt too: the list is at its longest in the middle of a pass.
inline int runLongRun(frmEchoWarden& window, test::FakeEcho& echo, long attempts,
                      const std::function<void()>& afterPass = {}) {
    int most = 0;
    const auto look = [&] { most = std::max(most, window.ui().lstPingResults->count()); };
    echo.onCall = [&](const test::FakeEcho::Call&) { look(); };
    while (window.pingPass().pingCount() < attempts) {
        window.pingPass().PingAddresses();
        if (!bench::finishPass(window.pingPass()))
            break;
        QCoreApplication::processEvents();
        look();
        if (afterPass)
            afterPass();
    }
    echo.onCall = nullptr;
    return most;
}

// Another program pinging loopback as fast as it may (iputils' ping -f as root, its shortest
// user interval otherwise), bounded in count and time, stopped by its own pid.
class LoopbackFlood {
public:
    static constexpr int MaxPackets = 1000000;
    static constexpr int MaxSeconds = 120;
    static constexpr int ProcessLimitMs = 5000;
    // Long enough for a ping that cannot start (no permission) to have ended.
    static constexpr int RefusalMs = 300;

    ~LoopbackFlood() { stop(); }

    // False (and *why set) where no ping program can flood loopback here.
    bool start(std::string* why) {
        QStringList args{"-q", "-c", QString::number(MaxPackets), "-w",
                         QString::number(MaxSeconds)};
        args << (::geteuid() == 0 ? QStringList{"-f"} : QStringList{"-i", "0.002"}) << "127.0.0.1";
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("ping", args);
        if (!process_.waitForStarted(ProcessLimitMs)) {
            *why = "no ping program (Debian package iputils-ping, installed by "
                   "scripts/install-deps.sh)";
            return false;
        }
        if (process_.waitForFinished(RefusalMs)) {
            *why = "ping could not flood loopback: " + process_.readAll().toStdString();
            return false;
        }
        return true;
    }

    // Stops it (SIGINT, so that it prints its summary) and gives that summary.
    std::string stop() {
        if (process_.state() == QProcess::NotRunning)
            return summary_;
        ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
        if (!process_.waitForFinished(ProcessLimitMs)) {
            process_.kill();
            process_.waitForFinished(ProcessLimitMs);
        }
        for (const QByteArray& line : process_.readAll().split('\n'))
            if (line.contains("packets transmitted"))
                summary_ = line.trimmed().toStdString();
        return summary_;
    }

private:
    QProcess process_;
    std::string summary_;
};

// Our echoes, each judged on its own: matched (a reply within the time-out), lost (no reply),
// or foreign (a reply with a round trip that cannot belong to this request: the echo itself
// checks the peer, identifier and sequence number).
struct EchoTally {
    long calls = 0;
    long matched = 0;
    long lost = 0;
    long foreign = 0;
    double slowestMs = 0;

    // count echoes to address, one after another through the event loop.
    void echo(Echo& echo, long count, const QString& address, int payload, int timeoutMs) {
        const bench::EchoRequest request{address, payload, timeoutMs};
        bench::chainEchoes(
            echo, count, [&](long) { return request; },
            [&](long, const EchoOutcome& o) {
                const double ms = std::chrono::duration<double, std::milli>(o.roundTrip).count();
                ++calls;
                if (o.result != 0)
                    ++lost;
                else if (ms < 0 || ms > timeoutMs)
                    ++foreign;
                else
                    ++matched;
                if (o.result == 0)
                    slowestMs = std::max(slowestMs, ms);
            },
            std::chrono::milliseconds(count * (timeoutMs + 10)));
    }
};

} // namespace ew::faults
