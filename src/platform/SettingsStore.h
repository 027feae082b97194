#pragma once

#include <QSettings>
#include <QString>
#include <map>
#include <memory>
#include <optional>

namespace ew {

// The per-user settings store: text values addressed by application, section and key.
// A key that was never written is missing (nullopt); an empty text is present and empty.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<QString> get(const QString& app, const QString& section,
                                       const QString& key) = 0;
    virtual void save(const QString& app, const QString& section, const QString& key,
                      const QString& value) = 0;
    // Writes what save() gathered to permanent storage. False, with a reason, when the store
    // could not be written.
    virtual bool flush(const QString& app, QString* reason) = 0;
    // Where the store of an application lives, for messages.
    virtual QString location(const QString& app) const = 0;
    // Why the store of an application could not be read, or nullopt when it could (a store
    // that does not exist yet reads fine, as empty). A store that could not be read gives no
    // stored value at all, as on a first run.
    virtual std::optional<QString> readError(const QString& /*app*/) { return std::nullopt; }
    // Moves a store that could not be read out of the way of the next save, under a name that
    // says so, and gives that name; nullopt when there is nothing to move or it cannot be moved.
    virtual std::optional<QString> keepUnreadable(const QString& /*app*/) { return std::nullopt; }
};

// The real store: one INI file per user and application, $XDG_CONFIG_HOME/<app>/<app>.ini
// (QSettings, INI format, user scope, organisation and application both <app>), a section per
// [group]. A file that begins with a UTF-8 byte-order mark (as Windows Notepad writes it) is
// read like any other. Values are written as plain texts. The file is replaced as a whole on every
// flush (QSettings writes through QSaveFile, atomic sync required), so a crash leaves either the
// old or the new file, never a torn one.
class IniSettingsStore final : public SettingsStore {
public:
    ~IniSettingsStore() override;
    std::optional<QString> get(const QString& app, const QString& section,
                               const QString& key) override;
    void save(const QString& app, const QString& section, const QString& key,
              const QString& value) override;
    bool flush(const QString& app, QString* reason) override;
    QString location(const QString& app) const override;
    std::optional<QString> readError(const QString& app) override;
    std::optional<QString> keepUnreadable(const QString& app) override;

private:
    QSettings& reader(const QString& app) const;
    // Writes what was gathered through a QSettings of its own: a QSettings keeps the first
    // error it met for good, so only a fresh one tells whether this write worked.
    QSettings::Status write(const QString& app) const;
    QString failureReason(const QString& app) const;

    mutable std::map<QString, std::unique_ptr<QSettings>> readers_;
    // Per application, why its file could not be read when it was first opened.
    mutable std::map<QString, QString> readErrors_;
    // Per application, "section/key" -> value: saved but not yet known to be on disk.
    std::map<QString, std::map<QString, QString>> pending_;
};

} // namespace ew
