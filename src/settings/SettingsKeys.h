#pragma once

#include <QString>

namespace ew::keys {

// Where the settings live in the per-user store.
inline const QString App = QStringLiteral("8R1");
inline const QString Section = QStringLiteral("EchoWarden");

inline const QString IPList = QStringLiteral("IPList");
inline const QString UnattendedTo = QStringLiteral("UnattendedTo");
inline const QString UnattendedFrom = QStringLiteral("UnattendedFrom");
inline const QString LogFilePath = QStringLiteral("LogFilePath");
inline const QString SaveSettingsOnExit = QStringLiteral("SaveSettingsOnExit");
inline const QString Unattended = QStringLiteral("Unattended");
inline const QString PingWithBytes = QStringLiteral("PingWithBytes");
inline const QString Timeout = QStringLiteral("Timeout");
inline const QString IntervalMinutes = QStringLiteral("IntervalMinutes");
inline const QString IntervalSeconds = QStringLiteral("IntervalSeconds");
inline const QString Interval = QStringLiteral("Interval");
inline const QString Beep = QStringLiteral("Beep");
inline const QString Attempts = QStringLiteral("Attempts");
inline const QString EnableLoggingTotal = QStringLiteral("EnableLoggingTotal");
inline const QString EnableLoggingFailed = QStringLiteral("EnableLoggingFailed");
inline const QString IntervalTenths = QStringLiteral("IntervalTenths");

} // namespace ew::keys
