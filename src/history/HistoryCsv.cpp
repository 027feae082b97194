#include "history/HistoryCsv.h"

#include <QDateTime>
#include <QStringList>

namespace ew {

namespace {

const QString LineEnd = QStringLiteral("\r\n");
const QString Comma = QStringLiteral(",");

QString field(const QString& text) {
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

QString historyCsvHeader() {
    return QStringLiteral("Entry,Time,Attempts,Lost,Lowest ms,Median ms,Highest ms") + LineEnd;
}

QString historyCsvRows(const QString& key, const std::vector<Row>& rows) {
    QString out;
    const QString entry = field(key);
    for (const Row& r : rows)
        out +=
            QStringList{entry,
                        QDateTime::fromMSecsSinceEpoch(r.atMs, Qt::UTC).toString(Qt::ISODateWithMs),
                        QString::number(r.count),
                        QString::number(r.losses),
                        msText(r.lowestUs),
                        msText(r.medianUs),
                        msText(r.highestUs)}
                .join(Comma) +
            LineEnd;
    return out;
}

} // namespace ew
