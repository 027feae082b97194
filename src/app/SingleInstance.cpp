#include "app/SingleInstance.h"

#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ew {

namespace {

// Not "<file>.lock": QSettings locks the file under that name while it saves.
const QString LockSuffix = QStringLiteral(".instance.lock");
const QString PipeSuffix = QStringLiteral(".instance.pipe");
// Requests read at one wake-up; any more wake the notifier again.
constexpr int ReadsPerWakeUp = 16;
const QByteArray RaiseRequest = QByteArrayLiteral("raise\n");

// The file as the system finds it, whatever links lead to it. A file not written yet is
// named by its folder's canonical path (the folder is made, so that the lock can go there).
QString canonicalFile(const QString& path) {
    const QFileInfo file(path);
    if (file.exists())
        return file.canonicalFilePath();
    QDir().mkpath(file.absolutePath());
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? file.absoluteFilePath() : QDir(folder).filePath(file.fileName());
}

} // namespace

SingleInstance::SingleInstance(const QString& settingsFile)
    : lockPath_(canonicalFile(settingsFile) + LockSuffix),
      pipePath_(canonicalFile(settingsFile) + PipeSuffix) {}

SingleInstance::~SingleInstance() {
    delete notifier_;
    // The pipe stays, as the lock file does: removing it could take it from a start that has
    // just opened it and is about to hold the lock.
    if (pipeFd_ >= 0)
        ::close(pipeFd_);
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

bool SingleInstance::claim() {
    // The pipe is open before the lock is tried: whoever holds the lock reads the pipe, so a
    // later start never waits for the first to get ready.
    const int pipeError = openPipe();
    // Not handed to programs this one starts (the log's viewer): they would hold it on.
    lockFd_ = ::open(QFile::encodeName(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const bool locked = lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
    const int lockError = errno;
    if (locked) {
        if (pipeFd_ < 0)
            qWarning("EchoWarden: a later start cannot reach this one: %s: %s",
                     qPrintable(pipePath_), std::strerror(pipeError));
        return true;
    }
    if (pipeFd_ >= 0)
        ::close(pipeFd_);
    pipeFd_ = -1;
    if (lockFd_ < 0 || lockError != EWOULDBLOCK) {
        // No lock can be taken here at all (an unwritable folder): running is better than not.
        qWarning("EchoWarden: cannot check for a running EchoWarden in %s",
                 qPrintable(QFileInfo(lockPath_).absolutePath()));
        return true;
    }
    ::close(lockFd_);
    lockFd_ = -1;
    // Without a reader (a first start that could not open the pipe) the open fails, and the
    // lock alone says that a program runs.
    const int fd = ::open(QFile::encodeName(pipePath_).constData(),
                          O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0) {
        [[maybe_unused]] const ssize_t sent =
            ::write(fd, RaiseRequest.constData(), RaiseRequest.size());
        ::close(fd);
    }
    return false;
}

int SingleInstance::openPipe() {
    const QByteArray path = QFile::encodeName(pipePath_);
    if (::mkfifo(path.constData(), S_IRUSR | S_IWUSR) != 0 && errno != EEXIST)
        return errno;
    // Open for writing too, so that the pipe never reads as ended between two requests.
    pipeFd_ = ::open(path.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    struct stat status {};
    if (pipeFd_ >= 0 && (::fstat(pipeFd_, &status) != 0 || !S_ISFIFO(status.st_mode))) {
        ::close(pipeFd_);
        pipeFd_ = -1;
        return EEXIST; // something else is in the way
    }
    return pipeFd_ < 0 ? errno : 0;
}

void SingleInstance::setWindow(QWidget* window) {
    window_ = window;
    if (pipeFd_ < 0 || notifier_)
        return;
    notifier_ = new QSocketNotifier(pipeFd_, QSocketNotifier::Read);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::readRequests);
    readRequests();
}

void SingleInstance::readRequests() {
    // Only this user can write to the pipe, and a raise is the only request.
    int reads = 0;
    char request[64];
    for (; reads < ReadsPerWakeUp; ++reads)
        if (::read(pipeFd_, request, sizeof request) <= 0)
            break;
    if (reads == 0)
        return;
    if (window_) {
        window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
        window_->show();
        window_->raise();
        window_->activateWindow();
    }
    Q_EMIT raiseRequested();
}

} // namespace ew
