#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <cstdio>
#include <utility>

namespace ew {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString Method = QStringLiteral("Notify");
const QString CapabilitiesMethod = QStringLiteral("GetCapabilities");
const QString BodyMarkup = QStringLiteral("body-markup");
const QString AppName = QStringLiteral("EchoWarden");
// The installed icon's theme name, also the desktop file's name, by which the desktop groups
// the program's notifications.
const QString IconName = QStringLiteral("echowarden");
const QString DesktopEntryHint = QStringLiteral("desktop-entry");
// Let the notification server decide how long a notification stays.
constexpr int ServerTimeout = -1;

// Where the session bus can be found without asking libdbus: an address in the environment,
// or the per-user bus socket. Without either, libdbus would try to start a bus of its own
// (X11 autolaunch), which is no business of a network monitor.
bool sessionBusKnown() {
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
           (!runtimeDir.isEmpty() && QFileInfo(runtimeDir + QStringLiteral("/bus")).exists());
}

} // namespace

void DBusNotifier::notify(const QString& summary, const QString& body) {
    if (!sessionBusKnown()) {
        failed(QStringLiteral("no session bus"));
        return;
    }
    if (bodyMarkup_) {
        send({summary, body});
        return;
    }
    waiting_.push_back({summary, body});
    askCapabilities();
}

void DBusNotifier::askCapabilities() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        waiting_.clear();
        failed(bus.lastError().message());
        return;
    }
    if (asking_)
        return;
    asking_ = true;
    const QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Interface, CapabilitiesMethod);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        const QDBusPendingReply<QStringList> reply = *w;
        const std::vector<Waiting> waiting = std::exchange(waiting_, {});
        // Without an answer nothing is sent; the next notification asks again, as a
        // notification server may start after the program.
        if (reply.isError()) {
            failed(reply.error().message());
            return;
        }
        bodyMarkup_ = reply.value().contains(BodyMarkup);
        for (const Waiting& notice : waiting)
            send(notice);
    });
}

void DBusNotifier::send(const Waiting& notice) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        failed(bus.lastError().message());
        return;
    }
    // The summary is plain text in the protocol whatever the server reads in the body; only
    // the body is escaped.
    const QString body = *bodyMarkup_ ? notice.body.toHtmlEscaped() : notice.body;
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, Method);
    call << AppName << 0u << IconName << notice.summary << body << QStringList()
         << QVariantMap{{DesktopEntryHint, IconName}} << ServerTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        if (w->isError())
            failed(w->error().message());
        w->deleteLater();
    });
}

void DBusNotifier::failed(const QString& why) {
    if (failureSaid_)
        return;
    failureSaid_ = true;
    std::fprintf(stderr,
                 "EchoWarden: desktop notifications are unavailable (%s); monitoring goes on "
                 "without them.\n",
                 qPrintable(why));
}

} // namespace ew
