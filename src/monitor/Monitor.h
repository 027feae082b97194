#pragma once

#include <QObject>
#include <QTime>
#include <cstdint>

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
    // Timer1 as designed: disabled, 3 s.
    static constexpr int Timer1DesignIntervalMs = 3000;
    // Long intervals are looked at again every 5 s; inside the unattended hours every minute.
    static constexpr int RecheckIntervalMs = 5000;
    static constexpr int UnattendedRecheckMs = 60000;
    // Seconds intervals up to this length tick once per pass; longer ones count.
    static constexpr int LongestTickedSeconds = 30;

    Monitor(Ui::frmEchoWarden& ui, QWidget& window, ProgramState& state, PingPass& pass,
            ControlStates& controls, LogFile& log, ToolTips& tips, Clock& clock,
            MessageBoxes& messages);

    void cmdStartPing_Click();
    void cmdStopPing_Click();
    void Timer1_Timer();

    QTimer& timer1() const { return *timer1_; }
    // Stops the timer for good (the program ends).
    void shutdown();

    // The interval number N of txtInterval (see usedNumber).
    int interval() const;

    // Counts between two times of day; a later time that reads earlier lies on the next day.
    static int secondsBetween(const QTime& from, const QTime& to);
    static int minuteChangesBetween(const QTime& from, const QTime& to);

Q_SIGNALS:
    // Ping started monitoring (a refused start sends nothing); Stop or the program's end ended it.
    void monitoringStarted();
    void monitoringStopped();

private:
    // What a tick does once the pass it started has ended.
    enum class AfterPass { Nothing, CountInterval, NoteTime };

    void runPass(AfterPass then);
    void passEnded();
    void countInterval(bool passed);
    void lateTick();
    // Says over the results why monitoring pings nothing now (an empty list, the unattended
    // hours), and which boxes the passes cannot use as they stand.
    void showNotice();
    void setTimer1Interval(int ms);
    bool insideUnattendedRange() const;
    QTime timeOfDayNow() const;
    int sinceLastPass(int (*count)(const QTime&, const QTime&)) const;

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
    AfterPass afterPass_ = AfterPass::Nothing;
    // A tick fell due during the running pass and has not been delivered yet.
    bool tickDue_ = false;
    // The last tick fell inside the unattended hours.
    bool resting_ = false;
    bool ended_ = false;
};

} // namespace ew
