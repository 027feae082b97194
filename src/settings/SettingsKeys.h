#pragma once

#include <QString>
#include <cstdint>

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
// Added later; a store without them keeps the behaviour it had.
inline const QString PingAtOnce = QStringLiteral("PingAtOnce");
inline const QString NotifyStateChanges = QStringLiteral("NotifyStateChanges");
inline const QString KeepHistory = QStringLiteral("KeepHistory");
inline const QString SlowAboveMs = QStringLiteral("SlowAboveMs");
inline const QString ServeMetrics = QStringLiteral("ServeMetrics");
inline const QString MetricsListen = QStringLiteral("MetricsListen");

} // namespace ew::keys

namespace ew::missing {

// What each key reads as when the store does not hold it, or holds a value that does not
// convert. "LogFilePath" reads as the current log path instead, and "IPList" as no items.
inline constexpr std::int16_t UnattendedTo = 0;
inline constexpr std::int16_t UnattendedFrom = 0;
inline constexpr bool SaveSettingsOnExit = true;
inline constexpr bool Unattended = false;
inline const QString PingWithBytes = QStringLiteral("16");
inline const QString Timeout = QStringLiteral("3");
inline constexpr bool IntervalMinutes = true;
inline constexpr bool IntervalSeconds = false;
inline const QString Interval = QStringLiteral("5");
inline constexpr int Beep = 0;
inline const QString Attempts = QStringLiteral("1");
inline constexpr int EnableLoggingTotal = 0;
inline constexpr int EnableLoggingFailed = 0;
inline constexpr bool IntervalTenths = false;
inline constexpr bool PingAtOnce = false;
inline constexpr bool NotifyStateChanges = true;
inline constexpr bool KeepHistory = true;
inline constexpr std::int16_t SlowAboveMs = 0; // off
inline constexpr bool ServeMetrics = false;

} // namespace ew::missing
