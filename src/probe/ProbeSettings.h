#pragma once

#include "engine/Attempt.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace ew {

// What the probe reads from the window's settings file: the same keys with the same meanings
// and the same replacements for a number that does not read (ReadSettings and the number
// boxes), so a list that the window pings is pinged the same way here.
struct ProbeSettings {
    PassSettings pass; // the entries numbered in list order
    TickSettings tick;
    std::int16_t unattendedFromHour = 0;
    std::int16_t unattendedToHour = 0;
    QString logPath;
    QString metricsListen; // empty when the file names none
    // A number the file holds that is not used as written: said once on standard error.
    QStringList notices;
};

// The window's own settings file.
QString windowSettingsPath();

// Reads the file and nothing else: it is never written, renamed or set aside, not even a
// byte-order mark taken off. Nullopt, with the reason, when it cannot be read.
std::optional<ProbeSettings> readProbeSettings(const QString& path, QString* error);

// "--interval N" with a unit: "10s", "5m", "7ds" (tenths); seconds without one.
std::optional<TickSettings> parseInterval(const QString& text);

} // namespace ew
