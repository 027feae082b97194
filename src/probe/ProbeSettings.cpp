#include "probe/ProbeSettings.h"

#include "platform/SystemDirs.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsKeys.h"
#include "settings/UsedNumber.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryFile>
#include <memory>

namespace ew {

namespace {

const QString MetricsListenKey = QStringLiteral("MetricsListen");
const QString DefaultLogName = QStringLiteral("Ping.Log");
const QByteArray ByteOrderMark = QByteArrayLiteral("\xef\xbb\xbf");

// Values the window itself puts in place of an empty or "0" box as it loads.
QString loaded(const std::optional<QString>& stored, const QString& missing,
               const QString& emptied) {
    const QString text = stored.value_or(missing);
    return text.isEmpty() || text == QLatin1String("0") ? emptied : text;
}

} // namespace

QString windowSettingsPath() {
    // Where the window's store keeps it; the store itself would mend what it reads.
    return QSettings(QSettings::IniFormat, QSettings::UserScope, keys::App, keys::App).fileName();
}

std::optional<ProbeSettings> readProbeSettings(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        *error = QStringLiteral("cannot read the settings file %1").arg(path);
        return std::nullopt;
    }
    // QSettings takes a byte-order mark (as Notepad writes it) for a syntax error; a copy
    // without it is read instead, and the file is left as it is.
    QString readFrom = path;
    QTemporaryFile copy;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.peek(ByteOrderMark.size()) == ByteOrderMark) {
        const QByteArray rest = file.readAll().mid(ByteOrderMark.size());
        if (copy.open() && copy.write(rest) == rest.size() && copy.flush())
            readFrom = copy.fileName();
    }
    QSettings s(readFrom, QSettings::IniFormat);
    s.allKeys();
    if (s.status() != QSettings::NoError) {
        *error = QStringLiteral("the settings file %1 is not a valid INI file").arg(path);
        return std::nullopt;
    }
    const auto get = [&s](const QString& key) -> std::optional<QString> {
        const QString at = keys::Section + QLatin1Char('/') + key;
        if (!s.contains(at))
            return std::nullopt;
        const QVariant v = s.value(at);
        // Commas outside quotes read back as a list; joined, they are the text written.
        if (v.typeId() == QMetaType::QStringList)
            return v.toStringList().join(QLatin1Char(','));
        return v.toString();
    };

    ProbeSettings p;
    const QStringList entries = decodeList(get(keys::IPList).value_or(QString()));
    for (qsizetype i = 0; i < entries.size(); ++i)
        p.pass.entries.push_back({entries[i], std::uint64_t(i + 1)});
    p.unattendedToHour = readInt16(get(keys::UnattendedTo), missing::UnattendedTo);
    p.unattendedFromHour = readInt16(get(keys::UnattendedFrom), missing::UnattendedFrom);
    p.logPath = get(keys::LogFilePath).value_or(QString());
    if (p.logPath.isEmpty())
        p.logPath = defaultLogDir() + QLatin1Char('/') + DefaultLogName;
    p.tick.unattended = readBool(get(keys::Unattended), missing::Unattended);

    const std::pair<NumberBox, QString> boxes[] = {
        {NumberBox::Bytes, loaded(get(keys::PingWithBytes), missing::PingWithBytes, "16")},
        {NumberBox::Timeout, get(keys::Timeout).value_or(missing::Timeout)},
        {NumberBox::Interval, loaded(get(keys::Interval), missing::Interval, "2")},
        {NumberBox::Attempts, loaded(get(keys::Attempts), missing::Attempts, "1")}};
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        const UsedNumber used = usedNumber(boxes[i].first, boxes[i].second);
        values[i] = used.value;
        if (!used.notice.isEmpty())
            p.notices << used.notice;
    }
    p.pass.packetSize = values[0];
    p.pass.timeoutMs = values[1];
    p.tick.interval = values[2];
    p.pass.attempts = values[3];

    // The window's option buttons, as loading sets them one after another: the tenths clear
    // the other two, and seconds, read after minutes, clear minutes. With none set the window
    // would pass once and never again; a probe takes minutes, the missing key's unit.
    if (readBool(get(keys::IntervalTenths), missing::IntervalTenths))
        p.tick.unit = TickSettings::Unit::Tenths;
    else if (readBool(get(keys::IntervalSeconds), missing::IntervalSeconds))
        p.tick.unit = TickSettings::Unit::Seconds;
    else
        p.tick.unit = TickSettings::Unit::Minutes;

    p.pass.logTotal =
        readCheckValue(get(keys::EnableLoggingTotal), missing::EnableLoggingTotal) == 1;
    // Logging every ping includes the failed ones, as the window forces its box.
    p.pass.logFailed = p.pass.logTotal || readCheckValue(get(keys::EnableLoggingFailed),
                                                         missing::EnableLoggingFailed) == 1;
    p.pass.atOnce = readBool(get(keys::PingAtOnce), missing::PingAtOnce);
    p.metricsListen = get(MetricsListenKey).value_or(QString());
    return p;
}

std::optional<TickSettings> parseInterval(const QString& text) {
    static const QRegularExpression Form(QStringLiteral("^([0-9]+)(m|s|ds)?$"));
    const QRegularExpressionMatch m = Form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int n = m.captured(1).toInt(&ok);
    if (!ok || n < 1 || n > 32767)
        return std::nullopt;
    TickSettings tick;
    tick.interval = n;
    const QString unit = m.captured(2);
    tick.unit = unit == QLatin1String("m")    ? TickSettings::Unit::Minutes
                : unit == QLatin1String("ds") ? TickSettings::Unit::Tenths
                                              : TickSettings::Unit::Seconds;
    return tick;
}

} // namespace ew
