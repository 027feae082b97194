#include "metrics/MetricsServer.h"
#include "platform/Clock.h"
#include "platform/Echo.h"
#include "platform/Privileges.h"
#include "probe/Probe.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A usage error or a settings file that cannot be read.
constexpr int UsageError = 2;

// Signals arrive as bytes on a socket pair, read on the event loop's thread.
int signalFds[2] = {-1, -1};

void onSignal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(signalFds[0], &byte, 1);
}

bool catchSignals() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalFds) != 0)
        return false;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        if (::sigaction(number, &action, nullptr) != 0)
            return false;
    return true;
}

int usage(const QString& text) {
    std::fprintf(stderr, "EchoWarden probe: %s\n", qPrintable(text));
    return UsageError;
}

} // namespace

int main(int argc, char* argv[]) {
    ew::dropPrivileges(); // before Qt loads anything from paths the environment names
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("echowarden-probe"));
    QCoreApplication::setApplicationVersion(QStringLiteral(EW_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Pings the list of EchoWarden's settings file without a display and "
                       "serves the figures to Prometheus."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("The settings file (default: the window's)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Where the figures are served (default: %1).")
                                        .arg(ew::MetricsServer::defaultListen()),
                                    QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption interval(
        QStringLiteral("interval"),
        QStringLiteral("The interval: N with m (minutes), s (seconds) or ds (tenths)."),
        QStringLiteral("N"));
    const QCommandLineOption atOnce(QStringLiteral("at-once"),
                                    QStringLiteral("Ping every entry without waiting."));
    const QCommandLineOption once(
        QStringLiteral("once"),
        QStringLiteral("One pass, then exit: 0 when every entry answered, 1 otherwise."));
    parser.addOptions({config, listen, interval, atOnce, once});
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("echowarden-probe %s\n", EW_VERSION);
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument \"%1\"")
                         .arg(parser.positionalArguments().constFirst()));

    ew::ProbeOverrides overrides;
    overrides.atOnce = parser.isSet(atOnce);
    overrides.listen = parser.value(listen);
    if (parser.isSet(interval)) {
        overrides.interval = ew::parseInterval(parser.value(interval));
        if (!overrides.interval)
            return usage(QStringLiteral("\"%1\" is no interval: give N with m, s or ds")
                             .arg(parser.value(interval)));
    }
    QHostAddress address;
    quint16 port = 0;
    if (!overrides.listen.isEmpty() &&
        !ew::MetricsServer::parseListen(overrides.listen, &address, &port))
        return usage(QStringLiteral("\"%1\" is no ADDRESS:PORT").arg(overrides.listen));
    if (!catchSignals())
        return usage(QStringLiteral("cannot catch signals"));

    ew::IcmpEcho echo;
    ew::SystemClock clock;
    ew::Probe probe(parser.isSet(config) ? parser.value(config) : ew::windowSettingsPath(),
                    overrides, echo, clock);
    if (!probe.load())
        return UsageError;
    QSocketNotifier signals(signalFds[1], QSocketNotifier::Read);
    QObject::connect(&signals, &QSocketNotifier::activated, &probe, [&probe] {
        char number = 0;
        if (::read(signalFds[1], &number, 1) == 1)
            number == SIGHUP ? probe.reload() : probe.end();
    });
    if (parser.isSet(once))
        probe.runOnce();
    else if (!probe.start())
        return UsageError;
    return QCoreApplication::exec();
}
