#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QDBusPendingCallWatcher;

namespace ew {

// A word from the desktop: a notification with a one-line summary and an optional body.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& summary, const QString& body) = 0;
};

// Says nothing: for windows made without a desktop to speak through (benchmarks).
inline Notifier& silentNotifier() {
    static struct : Notifier {
        void notify(const QString&, const QString&) override {}
    } silent;
    return silent;
}

// The freedesktop notification service on the session bus. The call does not wait for the
// service: a desktop that is slow to answer must not hold up the window. Where there is no
// bus or no service, that is said once on standard error and the notifications are dropped.
// The texts are texts: a server that reads the body as markup gets it escaped (a host named
// "<b>x</b>" shows as typed), so the server is asked once what it reads before the first send.
class DBusNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    void notify(const QString& summary, const QString& body) override;

private:
    struct Waiting {
        QString summary;
        QString body;
    };
    // Calls a method of the service and hands its answer to then; false, said, without a bus.
    bool call(const QString& method, const QVariantList& arguments,
              std::function<void(QDBusPendingCallWatcher&)> then);
    void askCapabilities();
    void send(const Waiting& notice);
    void failed(const QString& why);
    bool failureSaid_ = false;
    bool asking_ = false;
    std::optional<bool> bodyMarkup_; // known once the server answered
    std::vector<Waiting> waiting_;   // for that answer
};

} // namespace ew
