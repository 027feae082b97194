#include "engine/LogWriter.h"

#include "core/ProgramState.h"
#include "core/TimeText.h"
#include "platform/Clock.h"

#include <QFile>
#include <cerrno>

namespace ew {

// Every line of the log ends with CR LF, whatever the platform.
constexpr char LineEnd[] = "\r\n";

void LogWriter::AppendLogLine(const QString& line, std::int32_t lineCount, bool logTotal) {
    // Header and line go out in one write, so a program killed mid-way leaves whole lines.
    QByteArray out;
    // A run's header goes before the first line of that run that reaches the file: when the
    // first lines cannot be written, the header waits for the first one that can, so the
    // run's lines are never mistaken for the previous run's.
    if (lineCount == 0)
        headerPending_ = true;
    if (headerPending_) {
        const QDateTime now = clock_.now();
        out += LineEnd;
        out += QStringLiteral("Started log on %1 at %2 Logging %3 pings")
                   .arg(shortDateText(now.date()), timeOfDayText(now.time()),
                        logTotal ? QStringLiteral("Total") : QStringLiteral("Failed"))
                   .toLocal8Bit();
        out += LineEnd;
    }
    out += line.toLocal8Bit();
    out += LineEnd;

    QFile file(state_.logPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return reportWriteFailure(file.errorString());
    // A full disk takes part of a write: the fragment is cut off again, or the header written
    // later would follow a torn "Started log on" and the reader could not tell the runs apart.
    const qint64 sizeBefore = file.size();
    const qint64 written = file.write(out);
    const int writeError = errno;
    if (written != out.size()) {
        // A write cut short carries no error of its own in QFile; the call that met the full
        // disk tells why.
        const QString reason = written > 0 ? qt_error_string(writeError) : file.errorString();
        if (written > 0)
            file.resize(sizeBefore);
        return reportWriteFailure(reason);
    }
    file.close();
    if (file.error() != QFileDevice::NoError)
        return reportWriteFailure(file.errorString());
    headerPending_ = false;
}

void LogWriter::reportWriteFailure(const QString& reason) {
    // Monitoring goes on; the operator hears of it once per run rather than once per ping.
    if (writeFailureReported_)
        return;
    // Marked before it is told: ticks delivered while a box about it is open must not stack
    // more boxes.
    writeFailureReported_ = true;
    Q_EMIT writeFailed(state_.logPath, reason);
}

} // namespace ew
