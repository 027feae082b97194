#include "platform/SettingsStore.h"
#include "platform/SystemDirs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QStringList>

namespace ew {

namespace {

std::unique_ptr<QSettings> openIni(const QString& app) {
    auto s = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, app, app);
    // Only the user's own file counts: a system-wide file must not make a key look present.
    s->setFallbacksEnabled(false);
    // Never fall back to rewriting the file in place, which a crash could leave torn.
    s->setAtomicSyncRequired(true);
    return s;
}

// QSettings takes a UTF-8 byte-order mark for a syntax error and would report the whole file
// unreadable. The mark says nothing QSettings needs (it reads UTF-8 anyway), so it is dropped
// from the file, which is replaced whole as a save replaces it; a file that cannot be
// rewritten is read as it is. True when it was dropped.
bool dropByteOrderMark(const QString& path) {
    static const QByteArray Mark = QByteArrayLiteral("\xef\xbb\xbf");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.peek(Mark.size()) != Mark)
        return false;
    const QByteArray rest = file.readAll().mid(Mark.size());
    file.close();
    QSaveFile rewritten(path);
    return rewritten.open(QIODevice::WriteOnly) && rewritten.write(rest) == rest.size() &&
           rewritten.commit();
}

} // namespace

IniSettingsStore::~IniSettingsStore() {
    // What was saved but could not be written yet gets one last quiet try.
    for (const auto& [app, values] : pending_)
        if (!values.empty())
            write(app);
}

QSettings& IniSettingsStore::reader(const QString& app) const {
    auto& slot = readers_[app];
    if (!slot) {
        // What the first read met is the state of this run; QSettings reads at its first use.
        slot = openIni(app);
        slot->allKeys();
        if (slot->status() == QSettings::FormatError && dropByteOrderMark(slot->fileName())) {
            // Read again: the cache of parsed files sees the changed file, and a fresh QSettings
            // has the status of its own read.
            slot = openIni(app);
            slot->allKeys();
        }
        const QFileInfo file(slot->fileName());
        const QFileInfo dir(file.absolutePath());
        if (slot->status() == QSettings::FormatError)
            readErrors_[app] = QStringLiteral("the file is not a valid INI file");
        else if (slot->status() == QSettings::AccessError)
            readErrors_[app] = file.isDir() ? QStringLiteral("a folder of that name is in the way")
                                            : QStringLiteral("the file could not be read");
        // A folder that cannot be searched hides the file; QSettings takes it for missing.
        else if (dir.isDir() && !(dir.isReadable() && dir.isExecutable()))
            readErrors_[app] =
                QStringLiteral("the folder %1 cannot be read").arg(dir.absoluteFilePath());
    }
    return *slot;
}

std::optional<QString> IniSettingsStore::readError(const QString& app) {
    reader(app);
    const auto e = readErrors_.find(app);
    return e != readErrors_.end() ? std::optional(e->second) : std::nullopt;
}

std::optional<QString> IniSettingsStore::keepUnreadable(const QString& app) {
    if (!readError(app) || !QFileInfo(location(app)).isFile())
        return std::nullopt;
    const QString aside = moveAside(location(app), QStringLiteral(".unreadable-"));
    return aside.isEmpty() ? std::nullopt : std::optional(aside);
}

std::optional<QString> IniSettingsStore::get(const QString& app, const QString& section,
                                             const QString& key) {
    const QString path = section + QLatin1Char('/') + key;
    if (const auto a = pending_.find(app); a != pending_.end())
        if (const auto v = a->second.find(path); v != a->second.end())
            return v->second;
    QSettings& s = reader(app);
    // Whatever part of an unreadable file was understood is not trusted: the run starts from
    // the defaults, as the operator was told.
    if (readErrors_.contains(app) || !s.contains(path))
        return std::nullopt;
    const QVariant v = s.value(path);
    // A hand-edited value with commas outside quotes reads back as a list; joined again it
    // gives the text that was written, so an address list keeps every item.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

void IniSettingsStore::save(const QString& app, const QString& section, const QString& key,
                            const QString& value) {
    pending_[app][section + QLatin1Char('/') + key] = value;
}

QSettings::Status IniSettingsStore::write(const QString& app) const {
    const auto file = openIni(app);
    if (const auto gathered = pending_.find(app); gathered != pending_.end())
        for (const auto& [path, value] : gathered->second)
            file->setValue(path, value);
    file->sync();
    return file->status();
}

bool IniSettingsStore::flush(const QString& app, QString* reason) {
    // The reader keeps the parsed file shared with every QSettings of this file in the
    // process, so a writer need not parse it again (and report a damaged file as its error).
    reader(app);
    QDir().mkpath(QFileInfo(location(app)).absolutePath());
    // A write that met a file it could not parse reports only that; a second write, which no
    // longer needs to read the file once the first has replaced it, tells the outcome.
    QSettings::Status result = write(app);
    if (result == QSettings::FormatError)
        result = write(app);
    if (result == QSettings::NoError) {
        pending_.erase(app);
        return true;
    }
    if (reason)
        *reason = failureReason(app);
    // Keep what was gathered: a later flush may succeed once the cause is gone.
    return false;
}

QString IniSettingsStore::failureReason(const QString& app) const {
    const QFileInfo file(location(app));
    const QFileInfo dir(file.absolutePath());
    if (!dir.isDir())
        return QStringLiteral("the folder %1 could not be created").arg(dir.absoluteFilePath());
    if (file.isDir())
        return QStringLiteral("a folder of that name is in the way");
    if (!dir.isWritable())
        return QStringLiteral("the folder %1 is not writable").arg(dir.absoluteFilePath());
    if (file.exists() && !file.isWritable())
        return QStringLiteral("the file is read-only");
    return QStringLiteral("the file could not be written (is the disk full?)");
}

QString IniSettingsStore::location(const QString& app) const {
    return reader(app).fileName();
}

} // namespace ew
