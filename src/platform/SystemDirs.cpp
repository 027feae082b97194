#include "platform/SystemDirs.h"

#include <QDateTime>
#include <QFile>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace ew {

QString systemProgramDir() {
    QString dir = qEnvironmentVariable("EW_SYSTEM_PROGRAM_DIR", QStringLiteral("/usr/bin"));
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString applicationDir() {
    QString dir = QCoreApplication::applicationDirPath();
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

QString defaultLogDir() {
    const QString app = applicationDir();
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
