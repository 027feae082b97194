#include "platform/SystemDirs.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace ew {

QString systemProgramDir() {
    QString dir = qEnvironmentVariable("EW_SYSTEM_PROGRAM_DIR", QStringLiteral("/usr/bin"));
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString defaultLogDir() {
    const QString app = QCoreApplication::applicationDirPath();
    if (QFileInfo(app).isWritable())
        return app;
    QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (data.isEmpty())
        data = QDir::homePath();
    QDir().mkpath(data);
    return data;
}

QString moveAside(const QString& path, const QString& mark) {
    const QString aside =
        path + mark + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QFile::rename(path, aside) ? aside : QString();
}

} // namespace ew
