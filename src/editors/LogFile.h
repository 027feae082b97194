#pragma once

#include <QObject>
#include <QString>
#include <cstdint>

class QWidget;
namespace Ui {
class frmEchoWarden;
}

namespace ew {

struct ProgramState;
class ControlStates;
class Clock;
class MessageBoxes;
class Launcher;

// The optional log file: path check, overwrite or append, the header of each monitoring run,
// appending one line, and opening the file in the text editor.
//
// The file is never held open: every line opens, appends and closes it, so an editor may
// show it and the operator may delete it while the monitor runs (the next line recreates it).
class LogFile : public QObject {
    Q_OBJECT
public:
    LogFile(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state, ControlStates& controls,
            Clock& clock, MessageBoxes& messages, Launcher& launcher);

    // Appends line to the file named by LogPath, after the run's header block while
    // lineCount is 0. Opens and closes the file for every line. A line that cannot be written
    // is reported once per monitoring run; the caller goes on either way.
    void AppendLogLine(const QString& line, std::int32_t lineCount);
    // Takes the path from txtLog (or the default), checks it and, while asking is armed,
    // settles whether an existing file is overwritten or appended to.
    void ApplyLogPath();

    // For a start that nobody watches (--start): the overwrite question, which would hold the
    // first pass until someone answered it, is settled as No answers it (the log is appended
    // to), and that is said once on standard error. True when there was a question to settle.
    bool appendUnasked();

    void cmdSetLog_Click();
    void txtLog_Change();
    void chkLogTotal_Click();
    void chkLogFailed_Click();
    void cmdOpenLog_Click();

    // A new monitoring run begins: a write failure is reported again, once.
    void beginRun();

    // The default path: the default log directory, one '/', "Ping.Log".
    static QString defaultLogPath();

    // The box shown when a typed log path fails its check (also by a refused Start).
    static const QString InvalidPathTitle;
    static const QString InvalidPathText;
    // The same box's text for a path that names a folder.
    static const QString FolderPathText;

private:
    bool loggingOn() const;
    // Step 3 of ApplyLogPath: false when the typed path failed and the caller must stop.
    bool checkTypedPath();
    // Step 4 of ApplyLogPath: the overwrite question while it is armed.
    void settleExistingFile();
    void showPathControls(bool shown);
    void reportWriteFailure(const QString& reason);
    void showError(const QString& text, const QString& title);

    Ui::frmEchoWarden& ui_;
    QWidget& window_;
    ProgramState& state_;
    ControlStates& controls_;
    Clock& clock_;
    MessageBoxes& messages_;
    Launcher& launcher_;
    bool writeFailureReported_ = false;
    bool headerPending_ = false;
};

} // namespace ew
