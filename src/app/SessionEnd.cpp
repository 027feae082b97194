#include "app/SessionEnd.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace ew {

namespace {

constexpr std::array EndSignals{SIGTERM, SIGHUP, SIGINT};
// [0] is written by the handler, [1] read by the notifier.
int wakeFds[2] = {-1, -1};

void onEndSignal(int signal) {
    const int saved = errno;
    const char number = static_cast<char>(signal);
    // Nothing to be done when the pair is full: an end has been asked for already.
    [[maybe_unused]] const auto written = ::write(wakeFds[0], &number, 1);
    errno = saved;
}

} // namespace

SessionEnd::SessionEnd() {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, wakeFds) != 0) {
        qWarning("EchoWarden: the end of the session will not save the settings: %s",
                 qPrintable(qt_error_string(errno)));
    } else {
        notifier_ = new QSocketNotifier(wakeFds[1], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, [this] {
            char drained[16];
            while (::read(wakeFds[1], drained, sizeof drained) > 0) {
            }
            request();
        });
        struct sigaction action = {};
        action.sa_handler = onEndSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        for (const int signal : EndSignals) {
            // A signal ignored from the start (SIGHUP under nohup) stays ignored.
            struct sigaction before = {};
            if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
                ::sigaction(signal, &action, nullptr);
        }
    }
    // The session manager's end of session: the program will not be asked again.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::commitDataRequest, this, &SessionEnd::request);
}

void SessionEnd::request() {
    if (!std::exchange(requested_, true))
        Q_EMIT endRequested();
}

SessionEnd::~SessionEnd() {
    if (!notifier_)
        return;
    for (const int signal : EndSignals) {
        struct sigaction now = {};
        if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler == onEndSignal)
            ::signal(signal, SIG_DFL);
    }
    delete notifier_;
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

} // namespace ew
