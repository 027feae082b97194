#pragma once

#include "core/Attempt.h"

#include <QObject>
#include <cstdint>
#include <memory>

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
class EchoWorker;
class PassInputGuard;

// One ping pass over the address list: one result line per attempt, the counters in the
// status bar, the beep on failure and the log lines. Seen from its caller a pass is one call
// that returns when the pass has ended; meanwhile each echo call runs on a worker thread and
// the window stays alive, taking only Stop and Exit (see PassInputGuard).
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
    // The echo call carries its packet size in 16 bits and its time-out in 16 bits of
    // milliseconds.
    static constexpr int MaxPacketSize = 32767;
    static constexpr int MaxTimeoutMs = 32767;

    PingPass(Ui::frmEchoWarden& ui, ProgramState& state, ControlStates& controls, LogFile& log,
             Echo& echo, Clock& clock, Beeper& beeper);
    ~PingPass() override;

    void PingAddresses();
    void chkBeep_Click();

    // Stop: the pass ends within the attempt in progress, whose outcome is dropped (no line, no
    // count), and makes no further attempt. Nothing when no pass runs.
    void stop();
    // The program is ending: the pass ends as on Stop, also one that waits in a message box.
    void abandon();
    // True from the first attempt of a pass to its end: the span in which the window's event
    // loop runs under the pass.
    bool pinging() const { return pinging_; }

    std::int64_t pingCount() const { return pingCount_; }

    // The settings as the pass reads them, each with its fallback (see the constants above).
    std::int16_t packetSize() const;
    std::int16_t timeoutMs() const;
    int attempts() const;

    // The texts of a result line.
    static QString replyLine(const QString& timeOfDay, const QString& address,
                             std::int32_t roundTripMs);
    static QString failureLine(const QString& timeOfDay, const QString& address);

Q_SIGNALS:
    // Each attempt, in the order of the lines, right after its line, counts, beep and log line.
    void attemptReported(const ew::Attempt& attempt);
    // A pass reported its last line (not sent when Stop or Exit cut it short).
    void passEnded();

private:
    // False when the pass ended during the attempts.
    bool pingAddress(const QString& address, std::int16_t packetSize, std::int16_t timeoutMs,
                     std::int32_t& roundTripMs);
    void logLine(const QString& line);
    bool ending() const { return stopped_ || abandoned_; }

    Ui::frmEchoWarden& ui_;
    ProgramState& state_;
    ControlStates& controls_;
    LogFile& log_;
    Clock& clock_;
    Beeper& beeper_;
    std::unique_ptr<EchoWorker> worker_;
    std::unique_ptr<PassInputGuard> guard_;
    std::int64_t pingCount_ = 0;
    bool pinging_ = false;
    std::uint64_t lastEntryId_ = 0;
    std::uint64_t entryId_ = 0;
    bool stopped_ = false;
    bool abandoned_ = false;
};

} // namespace ew
