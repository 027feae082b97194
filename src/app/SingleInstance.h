#pragma once

#include <QPointer>
#include <QSocketNotifier>
#include <QString>
#include <QWidget>

namespace ew {

class SettingsStore;

// One running program per settings file. Two programs on one file would each save over the
// other at exit, and the operator's newer entries would be lost without a word, so a second
// start only brings the running window to the front and ends.
//
// The first start holds a lock file beside the settings file for as long as it runs, named
// after the file's canonical path: every path that leads to the file (a folder reached through
// a symbolic link, another XDG_RUNTIME_DIR) meets the same lock. It listens on a local socket
// in the runtime folder; a later start that finds the lock taken sends the socket a request to
// raise the first start's window. The lock is the kernel's (flock) on that file: it ends with
// its process however that process ends, so a killed program leaves nothing that blocks the
// next start, and taking it writes nothing to the disk.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    // For the store's file; the socket in the runtime folder (the temporary folder without one).
    explicit SingleInstance(SettingsStore& store);
    // For any file; the socket in the given folder.
    SingleInstance(const QString& settingsFile, const QString& socketFolder);
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
    void listen();
    void readRequests();
    void raiseWindow();

    QString lockPath_;
    QString socketPath_;
    int lockFd_ = -1;
    int socketFd_ = -1; // bound to socketPath_, which is then ours to remove
    QSocketNotifier notifier_{QSocketNotifier::Read};
    QPointer<QWidget> window_;
};

} // namespace ew
