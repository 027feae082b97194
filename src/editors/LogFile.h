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
class LogFile : public QObject {
    Q_OBJECT
public:
    LogFile(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state, ControlStates& controls,
            Clock& clock, MessageBoxes& messages, Launcher& launcher);

    // Appends line to the file named by LogPath, after the run's header block while
    // lineCount is 0. Opens and closes the file for every line.
    void AppendLogLine(const QString& line, std::int32_t lineCount);
    void ApplyLogPath();

    void cmdSetLog_Click();
    void txtLog_Change();
    void chkLogTotal_Click();
    void chkLogFailed_Click();
    void cmdOpenLog_Click();

    // A new monitoring run begins: a write failure is reported again, once.
    void beginRun();

    // The default path: the default log directory, one '/', "Ping.Log".
    static QString defaultLogPath();

private:
    Ui::frmEchoWarden& ui_;
    QWidget& window_;
    ProgramState& state_;
    ControlStates& controls_;
    Clock& clock_;
    MessageBoxes& messages_;
    Launcher& launcher_;
    bool writeFailureReported_ = false;
};

} // namespace ew
