#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace ew {

class SettingsStore;

// One running program per user and settings store. Two programs on one store would each save
// over the other at exit, and the operator's newer entries would be lost without a word, so a
// second start only brings the running window to the front and ends.
//
// The first start holds a lock file in the user's runtime folder for as long as it runs and
// listens on a local socket beside it; a later start that finds the lock taken connects to
// the socket, which asks the first to raise its window. The lock names its owner's process,
// so one left behind by a killed program is taken over at the next start.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // Keyed by the store's file, in the runtime folder (the temporary folder without one).
    explicit SingleInstance(SettingsStore& store);
    // Keyed by any path, in the given folder.
    SingleInstance(const QString& keyPath, const QString& folder);
    ~SingleInstance() override;

    // True when this is the only start: it now holds the lock and answers later starts.
    // False when another start holds it; that one has been asked to raise its window.
    bool claim();
    // The window that a later start brings to the front.
    void setWindow(QWidget* window) { window_ = window; }

    QString lockPath() const;
    QString socketPath() const;

Q_SIGNALS:
    // A later start asked for the window, after it was brought to the front.
    void raiseRequested();

private:
    void raiseWindow();

    QString base_;
    QLockFile lock_;
    QLocalServer server_;
    QPointer<QWidget> window_;
};

} // namespace ew
