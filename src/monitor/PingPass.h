#pragma once

#include <QObject>
#include <cstdint>

namespace Ui {
class frmEchoWarden;
}

namespace ew {

struct ProgramState;
class ControlStates;
class LogFile;
class Echo;
class Clock;
class Beeper;

// One ping pass over the address list: one result line per attempt, the counters in the
// status bar, the beep on failure and the log lines.
class PingPass : public QObject {
    Q_OBJECT
public:
    // The results list is emptied before an address when it holds more than this many lines.
    static constexpr int MaxResultLines = 30000;

    PingPass(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls, LogFile& log,
             Echo& echo, Clock& clock, Beeper& beeper);

    void PingAddresses();
    void chkBeep_Click();

    std::int64_t pingCount() const { return pingCount_; }

    // The texts of a result line.
    static QString replyLine(const QString& timeOfDay, const QString& address,
                             std::int32_t roundTripMs);
    static QString failureLine(const QString& timeOfDay, const QString& address);

private:
    Ui::frmEchoWarden& ui_;
    ProgramState& state_;
    ControlStates& controls_;
    LogFile& log_;
    Echo& echo_;
    Clock& clock_;
    Beeper& beeper_;
    std::int64_t pingCount_ = 0;
};

} // namespace ew
