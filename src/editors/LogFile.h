#pragma once

#include <QObject>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;

namespace ew {

struct ProgramState;
class ControlStates;
class LogWriter;
class ResultsList;
class StatusBar;
class MessageBoxes;
class Launcher;

// The optional log file as the window handles it: the path check, overwrite or append, a write
// that failed, and opening the file in the text editor. The engine's LogWriter appends.
class LogFile : public QObject {
    Q_OBJECT
public:
    // The controls of the log, and those its path check locks or replaces.
    struct Controls {
        QCheckBox &chkLogTotal, &chkLogFailed;
        QLineEdit& txtLog;
        QPushButton &cmdSetLog, &cmdOpenLog, &cmdStartPing;
        ResultsList& lstPingResults;
        QPlainTextEdit& txtPathError;
        StatusBar& StatusBar1;
    };
    LogFile(Controls ui, QWidget& window, ProgramState& state, ControlStates& controls,
            LogWriter& writer, MessageBoxes& messages, Launcher& launcher);

    // Takes the path from txtLog (or the default), checks it and, while asking is armed,
    // settles whether an existing file is overwritten or appended to.
    void ApplyLogPath();

    // For a start that nobody watches (--start): the overwrite question, which would hold the
    // first pass until someone answered it, is settled as No answers it (the log is appended
    // to), and that is said once on standard error. True when there was a question to settle.
    bool appendUnasked();

    // The default path: "Ping.Log" in the default log directory.
    static QString defaultLogPath();

    // Says that the log path (a folder, or else invalid) is refused and shows the notice in
    // place of the results: a typed path that failed its check, or Start with such a path.
    void refusePath(bool folder);
    bool loggingOn() const;

private:
    // False when the typed path failed and ApplyLogPath must stop.
    bool checkTypedPath();
    // The overwrite question while it is armed.
    void settleExistingFile();
    // Shows or hides the path controls for a log box's new value, and checks the path when shown.
    void logBoxChanged(bool shown);
    void cmdOpenLog_Click();
    void showError(const QString& text, const QString& title);

    Controls ui_;
    QWidget& window_;
    ProgramState& state_;
    ControlStates& controls_;
    MessageBoxes& messages_;
    Launcher& launcher_;
};

} // namespace ew
