#pragma once

#include "history/HistoryRows.h"

#include <QString>
#include <vector>

namespace ew {

// History rows as CSV (RFC 4180: commas, CR LF, quotes where needed) for a spreadsheet: times
// in ISO 8601 UTC to the millisecond, round trips in milliseconds with a point, whatever the
// desktop's language. An attempt is a row of one.
QString historyCsvHeader();
QString historyCsvRows(const QString& key, const std::vector<Row>& rows);

} // namespace ew
