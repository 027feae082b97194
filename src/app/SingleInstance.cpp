#include "app/SingleInstance.h"

#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
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
constexpr int WriteWaitMs = 1000;
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

} // namespace

SingleInstance::SingleInstance(SettingsStore& store)
    : SingleInstance(store.location(keys::App), runtimeFolder()) {}

SingleInstance::SingleInstance(const QString& settingsFile, const QString& socketFolder)
    : lockPath_(canonicalFile(settingsFile) + LockSuffix),
      socketPath_(socketName(canonicalFile(settingsFile), socketFolder)) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains(RaiseRequest))
                    raiseWindow();
            });
        }
    });
}

SingleInstance::~SingleInstance() {
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
        // A socket left by a killed start is in the way; holding the lock, it is ours to clear.
        QLocalServer::removeServer(socketPath());
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        if (!server_.listen(socketPath()))
            qWarning("EchoWarden: a later start cannot reach this one: %s",
                     qPrintable(server_.errorString()));
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
    for (int attempt = 0; attempt < ConnectAttempts; ++attempt) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(ConnectWaitMs)) {
            socket.write(RaiseRequest);
            socket.waitForBytesWritten(WriteWaitMs);
            socket.disconnectFromServer();
            return false;
        }
        QThread::msleep(ConnectWaitMs);
    }
    return false;
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
