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

    // What the pass uses when a setting box holds no usable number: the text the box itself
    // puts in place of an empty entry or "0".
    static constexpr std::int16_t FallbackPacketSize = 16;
    static constexpr int FallbackTimeoutMs = 3000;
    static constexpr int FallbackAttempts = 1;
    // The echo call carries its time-out in 16 bits of milliseconds.
    static constexpr int MaxTimeoutMs = 32767;

    PingPass(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls, LogFile& log,
             Echo& echo, Clock& clock, Beeper& beeper);

    void PingAddresses();
    void chkBeep_Click();

    // The program is ending: a pass that waits in a message box does not go on afterwards.
    void abandon() { abandoned_ = true; }

    std::int64_t pingCount() const { return pingCount_; }

    // The settings as the pass reads them, each with its fallback (see the constants above).
    std::int16_t packetSize() const;
    std::int16_t timeoutMs() const;
    int attempts() const;

    // The texts of a result line.
    static QString replyLine(const QString& timeOfDay, const QString& address,
                             std::int32_t roundTripMs);
    static QString failureLine(const QString& timeOfDay, const QString& address);

private:
    void pingAddress(const QString& address, std::int16_t packetSize, std::int16_t timeoutMs,
                     std::int32_t& roundTripMs);
    void logLine(const QString& line);

    Ui::frmEchoWarden& ui_;
    ProgramState& state_;
    ControlStates& controls_;
    LogFile& log_;
    Echo& echo_;
    Clock& clock_;
    Beeper& beeper_;
    std::int64_t pingCount_ = 0;
    bool abandoned_ = false;
};

} // namespace ew
