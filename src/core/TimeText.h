#pragma once

#include <QDate>
#include <QString>
#include <QTime>
#include <optional>

namespace ew {

// The time of day as the operator sees it everywhere (result lines, log, status bar): the
// system locale's long time format with hours, minutes and seconds, without a time zone.
QString timeOfDayText(const QTime& time);
// The system locale's short time format, hours and minutes only, as a desktop clock shows them.
QString shortTimeText(const QTime& time);
// The system locale's short date format.
QString shortDateText(const QDate& date);
// Reads back a text made by timeOfDayText.
std::optional<QTime> parseTimeOfDay(const QString& text);

} // namespace ew
