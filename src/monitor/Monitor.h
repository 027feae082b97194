#pragma once

#include <QObject>

class QTimer;
class QWidget;
namespace Ui {
class frmEchoWarden;
}

namespace ew {

struct ProgramState;
class PingPass;
class ControlStates;
class LogFile;
class ToolTips;
class Clock;
class MessageBoxes;

// Starting and stopping the monitor, and the interval timer Timer1 that decides on every tick
// whether a pass runs now and when the next tick comes.
class Monitor : public QObject {
    Q_OBJECT
public:
    Monitor(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state, PingPass& pass,
            ControlStates& controls, LogFile& log, ToolTips& tips, Clock& clock,
            MessageBoxes& messages);

    void cmdStartPing_Click();
    void cmdStopPing_Click();
    void Timer1_Timer();

    QTimer& timer1() const { return *timer1_; }
    // Stops the timer for good (the program ends).
    void shutdown();

private:
    Ui::frmEchoWarden& ui_;
    QWidget& window_;
    ProgramState& state_;
    PingPass& pass_;
    ControlStates& controls_;
    LogFile& log_;
    ToolTips& tips_;
    Clock& clock_;
    MessageBoxes& messages_;
    QTimer* timer1_;
};

} // namespace ew
