#include "platform/Notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QFileInfo>
#include <cstdio>

namespace ew {

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString Interface = QStringLiteral("org.freedesktop.Notifications");
const QString Method = QStringLiteral("Notify");
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
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        failed(bus.lastError().message());
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(Service, Path, Interface, Method);
    call << AppName << 0u << IconName << summary << body << QStringList()
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
                 "echowarden: desktop notifications are unavailable (%s); monitoring goes on "
                 "without them.\n",
                 qPrintable(why));
}

} // namespace ew
