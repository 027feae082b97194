#include "platform/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace ew {

IniSettingsStore::IniSettingsStore() = default;
IniSettingsStore::~IniSettingsStore() = default;

QSettings& IniSettingsStore::open(const QString& app) const {
    auto& slot = stores_[app];
    if (!slot)
        slot = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, app, app);
    return *slot;
}

std::optional<QString> IniSettingsStore::get(const QString& app, const QString& section,
                                             const QString& key) {
    QSettings& s = open(app);
    const QString path = section + QLatin1Char('/') + key;
    if (!s.contains(path))
        return std::nullopt;
    const QVariant v = s.value(path);
    // A hand-edited value with unquoted commas reads back as a list; joined again it gives
    // the text that was written, so an address list keeps every item.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void IniSettingsStore::save(const QString& app, const QString& section, const QString& key,
                            const QString& value) {
    open(app).setValue(section + QLatin1Char('/') + key, value);
}

bool IniSettingsStore::flush(const QString& app, QString* reason) {
    QSettings& s = open(app);
    // QSettings does not create a missing directory when it lacks permission, and reports
    // nothing but AccessError; check the usual causes so the message can name one.
    const QFileInfo file(s.fileName());
    QDir().mkpath(file.absolutePath());
    s.sync();
    if (s.status() == QSettings::NoError)
        return true;
    if (reason) {
        if (!QFileInfo(file.absolutePath()).isWritable())
            *reason = QStringLiteral("the folder %1 is not writable").arg(file.absolutePath());
        else if (file.exists() && !file.isWritable())
            *reason = QStringLiteral("the file is read-only");
        else
            *reason = QStringLiteral("the file could not be written (disk full?)");
    }
    // Keep what was gathered: a later flush may succeed once the cause is gone.
    return false;
}

QString IniSettingsStore::location(const QString& app) const { return open(app).fileName(); }

} // namespace ew
