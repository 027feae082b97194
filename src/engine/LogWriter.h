#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

namespace ew {

struct ProgramState;
class Clock;

// Appending to the log file named by LogPath: the header of each monitoring run and one line per
// logged attempt. Where the path comes from and whether it is valid is the view's business.
//
// The file is never held open: every line opens, appends and closes it, so an editor may
// show it and the operator may delete it while the monitor runs (the next line recreates it).
class LogWriter : public QObject {
    Q_OBJECT
public:
    LogWriter(ProgramState& state, Clock& clock) : state_(state), clock_(clock) {}

    // Appends line after the run's header block while lineCount is 0; the header says whether
    // every attempt (logTotal) or the failed ones are logged. A line that cannot be written is
    // told once per monitoring run (writeFailed); the caller goes on either way.
    void AppendLogLine(const QString& line, std::int32_t lineCount, bool logTotal);
    // A new monitoring run begins: a write failure is told again, once.
    void beginRun() { writeFailureReported_ = false; }

Q_SIGNALS:
    void writeFailed(const QString& path, const QString& reason);

private:
    void reportWriteFailure(const QString& reason);

    ProgramState& state_;
    Clock& clock_;
    bool writeFailureReported_ = false;
    bool headerPending_ = false;
};

} // namespace ew
