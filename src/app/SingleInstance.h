#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QSocketNotifier;

namespace ew {

// One running program per settings file. Two programs on one file would each save over the
// other at exit, and the operator's newer entries would be lost without a word, so a second
// start only brings the running window to the front and ends.
//
// Beside the settings file, named after its canonical path, lie a lock file and a named pipe:
// every path that leads to the file (a folder reached through a symbolic link, another
// XDG_RUNTIME_DIR) meets the same two. The first start holds the lock for as long as it runs
// and reads the pipe; a later start that finds the lock taken writes a request to raise the
// window into the pipe. The lock is the kernel's (flock) on that file: it ends with its process
// however that process ends, so a killed program leaves nothing that blocks the next start,
// and taking it writes nothing to the disk.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& settingsFile);
    ~SingleInstance() override;

    // True when this is the only start: it now holds the lock. False when another start holds
    // it; that one has been asked to raise its window. Needs no application object yet.
    bool claim();
    // The window that a later start brings to the front. Requests are answered from here on,
    // those that came since claim() included.
    void setWindow(QWidget* window);

Q_SIGNALS:
    // A later start asked for the window, after it was brought to the front.
    void raiseRequested();

private:
    int openPipe();      // 0, or why the pipe cannot be read
    void readRequests(); // and raises the window when asked to

    QString lockPath_;
    QString pipePath_;
    int lockFd_ = -1;
    int pipeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QPointer<QWidget> window_;
};

} // namespace ew
