#pragma once

// Another program pinging loopback as fast as it can (iputils' ping -f), so that our own
// echoes share the machine's ICMP traffic with it; and a tally that tells whether each of our
// replies was our own. Loopback only, bounded in count and time, stopped by its own pid.

#include "platform/echo/echoping.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <unistd.h>

namespace ew::faults {

class LoopbackFlood {
public:
    static constexpr int MaxPackets = 1000000;
    static constexpr int MaxSeconds = 120;

    ~LoopbackFlood() { stop(); }

    // False (and *why set) where no ping program can flood loopback here.
    bool start(std::string* why) {
        if (::access("/usr/bin/ping", X_OK) != 0 && ::access("/bin/ping", X_OK) != 0) {
            *why = "no ping program (Debian package iputils-ping, installed by "
                   "scripts/install-deps.sh)";
            return false;
        }
        // Flooding is root's; others get ping's shortest interval for users.
        QStringList args{QStringLiteral("-q"), QStringLiteral("-c"), QString::number(MaxPackets),
                         QStringLiteral("-w"), QString::number(MaxSeconds)};
        if (::geteuid() == 0)
            args << QStringLiteral("-f");
        else
            args << QStringLiteral("-i") << QStringLiteral("0.002");
        args << QStringLiteral("127.0.0.1");
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(QStringLiteral("ping"), args);
        if (!process_.waitForStarted(5000) || process_.waitForFinished(300)) {
            *why = "ping could not flood loopback: " +
                   QString::fromLocal8Bit(process_.readAll()).toStdString();
            return false;
        }
        return true;
    }

    // Stops it (SIGINT, so that it prints its summary) and gives that summary.
    std::string stop() {
        if (process_.state() == QProcess::NotRunning)
            return summary_;
        ::kill(static_cast<pid_t>(process_.processId()), SIGINT);
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
        const QString out = QString::fromLocal8Bit(process_.readAll());
        for (const QString& line : out.split(QLatin1Char('\n')))
            if (line.contains(QLatin1String("packets transmitted")))
                summary_ = line.trimmed().toStdString();
        return summary_;
    }

private:
    QProcess process_;
    std::string summary_;
};

// Our echoes, each judged on its own: matched (a reply from the address asked, with a round
// trip within the time-out), lost (no reply), or foreign (a reply that was not ours: another
// peer, or a round trip that cannot belong to this request).
struct EchoTally {
    long calls = 0;
    long matched = 0;
    long lost = 0;
    long foreign = 0;
    long slowestMs = 0;

    void echo(const char* address, std::int16_t payload, std::int16_t timeoutMs) {
        char reply[ECHO_REPLY_BUFFER];
        std::memset(reply, ' ', ECHO_REPLY_BUFFER - 1);
        reply[ECHO_REPLY_BUFFER - 1] = '\0';
        std::int32_t rtt = -1;
        const int result = ::ping(address, reply, payload, &rtt, timeoutMs, 0);
        ++calls;
        if (result != ECHO_OK) {
            ++lost;
        } else if (std::strcmp(reply, address) != 0 || rtt < 0 || rtt > timeoutMs) {
            ++foreign;
        } else {
            ++matched;
            slowestMs = rtt > slowestMs ? rtt : slowestMs;
        }
    }
};

} // namespace ew::faults
