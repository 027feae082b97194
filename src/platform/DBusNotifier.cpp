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
// The installed icon's theme name, also the desktop file's name, by which the desktop groups
// the program's notifications.
const QString IconName = QStringLiteral("echowarden");

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
    if (!sessionBusKnown())
        return failed(QStringLiteral("no session bus"));
    if (bodyMarkup_)
        return send({summary, body});
    waiting_.push_back({summary, body});
    askCapabilities();
}

bool DBusNotifier::call(const QString& method, const QVariantList& arguments,
                        std::function<void(QDBusPendingCallWatcher&)> then) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        failed(bus.lastError().message());
        return false;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, QStringLiteral("/org/freedesktop/Notifications"), Service, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [then = std::move(then)](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                then(*w);
            });
    return true;
}

void DBusNotifier::askCapabilities() {
    if (asking_)
        return;
    asking_ = call(QStringLiteral("GetCapabilities"), {}, [this](QDBusPendingCallWatcher& w) {
        asking_ = false;
        const QDBusPendingReply<QStringList> reply = w;
        const std::vector<Waiting> waiting = std::exchange(waiting_, {});
        // Without an answer nothing is sent; the next notification asks again, as a
        // notification server may start after the program.
        if (reply.isError())
            return failed(reply.error().message());
        bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        for (const Waiting& notice : waiting)
            send(notice);
    });
    if (!asking_)
        waiting_.clear();
}

void DBusNotifier::send(const Waiting& notice) {
    // The summary is plain text in the protocol whatever the server reads in the body; only
    // the body is escaped. The server decides how long a notification stays (-1).
    const QString body = *bodyMarkup_ ? notice.body.toHtmlEscaped() : notice.body;
    call(QStringLiteral("Notify"),
         {QStringLiteral("EchoWarden"), 0u, IconName, notice.summary, body, QStringList(),
          QVariantMap{{QStringLiteral("desktop-entry"), IconName}}, -1},
         [this](QDBusPendingCallWatcher& w) {
             if (w.isError())
                 failed(w.error().message());
         });
}

void DBusNotifier::failed(const QString& why) {
    if (std::exchange(failureSaid_, true))
        return;
    std::fprintf(stderr,
                 "EchoWarden: desktop notifications are unavailable (%s); monitoring goes on "
                 "without them.\n",
                 qPrintable(why));
}

} // namespace ew
