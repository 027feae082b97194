#pragma once

#include <QObject>
#include <QString>

namespace ew {

// A word from the desktop: a notification with a one-line summary and an optional body.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void notify(const QString& summary, const QString& body) = 0;
};

// Says nothing: for windows made without a desktop to speak through (benchmarks).
class SilentNotifier final : public Notifier {
public:
    void notify(const QString&, const QString&) override {}
};

inline Notifier& silentNotifier() {
    static SilentNotifier silent;
    return silent;
}

// The freedesktop notification service on the session bus. The call does not wait for the
// service: a desktop that is slow to answer must not hold up the window. Where there is no
// bus or no service, that is said once on standard error and the notifications are dropped.
class DBusNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    void notify(const QString& summary, const QString& body) override;

private:
    void failed(const QString& why);
    bool failureSaid_ = false;
};

} // namespace ew
