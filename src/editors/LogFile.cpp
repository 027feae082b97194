#include "editors/LogFile.h"

#include "app/Convert.h"
#include "app/ProgramState.h"
#include "app/TimeText.h"
#include "platform/Clock.h"
#include "platform/SystemDirs.h"
#include "ui_frmEchoWarden.h"

#include <QFile>

namespace ew {

LogFile::LogFile(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state,
                 ControlStates& controls, Clock& clock, MessageBoxes& messages,
                 Launcher& launcher)
    : ui_(ui), window_(window), state_(state), controls_(controls), clock_(clock),
      messages_(messages), launcher_(launcher) {}

QString LogFile::defaultLogPath() {
    QString dir = defaultLogDir();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir + QStringLiteral("Ping.Log");
}

// Minimal until the log issue lands: appends with CR LF and writes the run's header.
void LogFile::AppendLogLine(const QString& line, std::int32_t lineCount) {
    QFile f(state_.logPath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QByteArray out;
    if (lineCount == 0) {
        const QDateTime now = clock_.now();
        out += "\r\n";
        out += QStringLiteral("Started log on %1 at %2 %3")
                   .arg(shortDateText(now.date()), timeOfDayText(now.time()),
                        isChecked(*ui_.chkLogTotal) ? QStringLiteral("Logging Total pings")
                                                    : QStringLiteral("Logging Failed pings"))
                   .toLocal8Bit();
        out += "\r\n";
    }
    out += line.toLocal8Bit();
    out += "\r\n";
    f.write(out);
}

void LogFile::ApplyLogPath() {
    if (state_.logPath.isEmpty())
        state_.logPath = ui_.txtLog->text().isEmpty() ? defaultLogPath() : ui_.txtLog->text();
}

void LogFile::cmdSetLog_Click() {}
void LogFile::txtLog_Change() {}
void LogFile::chkLogTotal_Click() {}
void LogFile::chkLogFailed_Click() {}
void LogFile::cmdOpenLog_Click() {}
void LogFile::beginRun() { writeFailureReported_ = false; }

} // namespace ew
