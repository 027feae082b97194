#include "app/SingleInstance.h"

#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace ew {

namespace {

const QString NamePrefix = QStringLiteral("echowarden-");
// Not "<file>.lock": QSettings locks the file under that name while it saves.
const QString LockSuffix = QStringLiteral(".instance.lock");
const QString SocketSuffix = QStringLiteral(".socket");
// Enough of the key's digest to tell the stores of one user apart, short enough for the
// length limit of a socket's path.
constexpr int KeyDigits = 16;

// A first start may hold the lock a moment before it listens: the later start tries again for
// at most this long, and ends regardless (the lock says that a program runs).
constexpr int ConnectAttempts = 10;
constexpr int ConnectWaitMs = 200;
// Requests read at one wake-up; any more wake the notifier again.
constexpr int RequestsPerRead = 16;
const QByteArray RaiseRequest = QByteArrayLiteral("raise\n");

QString runtimeFolder() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? QDir::tempPath() : runtime;
}

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

QString socketName(const QString& canonical, const QString& folder) {
    const QByteArray digest =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QDir(folder).filePath(NamePrefix + QString::fromLatin1(digest.left(KeyDigits)) +
                                 SocketSuffix);
}

// A socket for requests, and the address of the path; -1 (errno ENAMETOOLONG) for a path that
// the address cannot hold whole.
int datagramSocket(const QString& path, sockaddr_un& address) {
    const QByteArray name = QFile::encodeName(path);
    if (name.size() >= qsizetype(sizeof address.sun_path)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), name.size());
    return ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

} // namespace

SingleInstance::SingleInstance(SettingsStore& store)
    : SingleInstance(store.location(keys::App), runtimeFolder()) {}

SingleInstance::SingleInstance(const QString& settingsFile, const QString& socketFolder)
    : lockPath_(canonicalFile(settingsFile) + LockSuffix),
      socketPath_(socketName(canonicalFile(settingsFile), socketFolder)) {
    connect(&notifier_, &QSocketNotifier::activated, this, &SingleInstance::readRequests);
}

SingleInstance::~SingleInstance() {
    if (socketFd_ >= 0) {
        notifier_.setEnabled(false);
        ::unlink(QFile::encodeName(socketPath_).constData());
        ::close(socketFd_);
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

QString SingleInstance::lockPath() const {
    return lockPath_;
}

QString SingleInstance::socketPath() const {
    return socketPath_;
}

bool SingleInstance::claim() {
    QDir().mkpath(QFileInfo(socketPath()).absolutePath());
    // Not handed to programs this one starts (the log's viewer): they would hold it on.
    lockFd_ = ::open(QFile::encodeName(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    const bool locked = lockFd_ >= 0 && ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0;
    if (locked) {
        listen();
        return true;
    }
    if (lockFd_ < 0 || errno != EWOULDBLOCK) {
        // No lock can be taken here at all (an unwritable folder): running is better than not.
        qWarning("EchoWarden: cannot check for a running EchoWarden in %s",
                 qPrintable(QFileInfo(lockPath()).absolutePath()));
        return true;
    }
    ::close(lockFd_);
    lockFd_ = -1;
    sockaddr_un address;
    const int fd = datagramSocket(socketPath_, address);
    if (fd < 0)
        return false;
    for (int attempt = 0; attempt < ConnectAttempts; ++attempt) {
        if (::sendto(fd, RaiseRequest.constData(), RaiseRequest.size(), 0,
                     reinterpret_cast<const sockaddr*>(&address), sizeof address) >= 0)
            break;
        QThread::msleep(ConnectWaitMs);
    }
    ::close(fd);
    return false;
}

void SingleInstance::listen() {
    sockaddr_un address;
    const int fd = datagramSocket(socketPath_, address);
    // A socket left by a killed start is in the way; holding the lock, it is ours to clear.
    // Linux gives a socket's file the socket's own mode (less the umask): this user's alone
    // from the start, with no moment in which another could write to it.
    if (fd < 0 || (::unlink(address.sun_path) != 0 && errno != ENOENT) ||
        ::fchmod(fd, S_IRUSR | S_IWUSR) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        qWarning("EchoWarden: a later start cannot reach this one: %s: %s", qPrintable(socketPath_),
                 std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return;
    }
    socketFd_ = fd;
    notifier_.setSocket(fd);
    notifier_.setEnabled(true);
}

void SingleInstance::readRequests() {
    bool raise = false;
    char request[64];
    for (int i = 0; i < RequestsPerRead; ++i) {
        const ssize_t size = ::recv(socketFd_, request, sizeof request, MSG_DONTWAIT);
        if (size < 0)
            break;
        raise = raise || QByteArray::fromRawData(request, size).contains(RaiseRequest);
    }
    if (raise)
        raiseWindow();
}

void SingleInstance::raiseWindow() {
    if (window_) {
        window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
        window_->show();
        window_->raise();
        window_->activateWindow();
    }
    Q_EMIT raiseRequested();
}

} // namespace ew
