#pragma once

#include "engine/Attempt.h"

#include <QObject>
#include <QTime>
#include <functional>

class QTimer;

namespace ew {

struct ProgramState;
class PingPass;
class Clock;

// The monitor's run and its interval timer Timer1, which decides on every tick whether a pass
// runs now and when the next tick comes.
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

    // Reads the interval, its unit and whether the unattended hours apply, as they stand.
    using ReadTick = std::function<TickSettings()>;

    // Timer1 is a child of timerOwner, where whoever shows the monitor finds it by name.
    Monitor(QObject& timerOwner, ProgramState& state, PingPass& pass, Clock& clock,
            ReadTick readTick);

    // Monitoring starts with a tick at once; the reference time of the intervals is now.
    void start();
    // Also while a pass runs: its attempts in flight are dropped, and neither a further attempt
    // nor a tick that fell due meanwhile follows.
    void stop();
    void Timer1_Timer();

    QTimer& timer1() const { return *timer1_; }
    // Stops the timer for good (the program ends).
    void shutdown();
    bool ended() const { return ended_; }
    // The last tick fell inside the unattended hours.
    bool resting() const { return resting_; }

    // Counts between two times of day; a later time that reads earlier lies on the next day.
    static int secondsBetween(const QTime& from, const QTime& to);

Q_SIGNALS:
    // Monitoring started; Stop or the program's end ended it.
    void monitoringStarted();
    void monitoringStopped();
    // A tick begins (its resting state is known).
    void tickBegun();

private:
    // What a tick does once the pass it started has ended.
    enum class AfterPass { Nothing, CountInterval, NoteTime };

    void runPass(AfterPass then);
    void passEnded();
    void countInterval(bool passed);
    void lateTick();
    void setTimer1Interval(int ms);
    QTime timeOfDayNow() const;
    int sinceLastPass(int (*count)(const QTime&, const QTime&)) const;

    ProgramState& state_;
    PingPass& pass_;
    Clock& clock_;
    ReadTick readTick_;
    QTimer* timer1_;
    AfterPass afterPass_ = AfterPass::Nothing;
    // A tick fell due during the running pass and has not been delivered yet.
    bool tickDue_ = false;
    bool resting_ = false;
    bool ended_ = false;
};

} // namespace ew
