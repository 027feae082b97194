#pragma once

#include "engine/Attempt.h"
#include "platform/Echo.h"

#include <QList>
#include <QObject>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

class QTimer;

namespace ew {

struct ProgramState;
class Clock;
class LogWriter;

// One ping pass over the address list: one result line per attempt, the counts and the beep on
// failure, each said by a signal for whatever shows them, and the log lines. A pass is a run of
// events on the window's thread: an attempt sends its request and returns, and its line follows
// when its reply or its time-out comes, so the window serves the operator all along. A pass works
// on the entries and settings it read when it began.
//
// One after another (the default), an entry's attempts follow each other and the next entry
// begins when the last one has ended. At once (Settings > Ping all addresses at once), every
// entry is sent to without waiting for the others, one request per millisecond in list order;
// an entry's attempts still follow one another. Either way the lines, counts, beeps and log
// lines come in list order, as a pass one after another would write them.
class PingPass : public QObject {
    Q_OBJECT
public:
    // The results list is emptied before an entry's lines when it holds more than this many.
    static constexpr int MaxResultLines = 30000;

    // At once, requests leave at most one per this span: routers and the kernel drop larger
    // bursts of ICMP.
    static constexpr std::chrono::milliseconds SendSpacing{1};

    // Readies a pass and reads what it is to work on: the view's check of the log path (which
    // may ask the operator, and so run the event loop) and its settings.
    using Prepare = std::function<PassSettings()>;

    PingPass(ProgramState& state, Echo& echo, Clock& clock, LogWriter& log, Prepare prepare);
    ~PingPass() override;

    // Begins a pass and returns once its first requests are out (after the log's overwrite
    // question, when that is asked). A pass with nothing to ping has ended on return.
    void PingAddresses();

    // Stop: the attempts in flight are dropped (no line, no count) and none follows. Nothing
    // when no pass runs.
    void stop();
    // The program is ending: as Stop, also for a pass that waits in a message box.
    void abandon();
    // From the start of a pass to its last line (or its Stop).
    bool running() const { return running_; }

    std::int64_t pingCount() const { return pingCount_; }

    static QString replyLine(const QString& timeOfDay, const QString& address,
                             std::int32_t roundTripMs);

Q_SIGNALS:
    // An entry's lines begin (where a bounded list makes room for them).
    void entryBegun();
    // Per attempt, in this order: a beep that a failure asks for; its line (then its log line
    // is written); the counts with it (the failed ones are the program state's); the attempt.
    void resultLine(const QString& line);
    void beepDue();
    void countsChanged(std::int64_t pings, std::int64_t failed, bool failedNow);
    void attemptReported(const ew::Attempt& attempt);
    // A pass reported its last line (not sent when Stop or Exit cut it short).
    void passEnded();
    // The echo got a reply again for an attempt already answered (at the address text it was
    // made to), or could not read from its sockets: in or out of a pass.
    void duplicateReply(const QString& address);
    void receiveError();

private:
    struct Ended {
        EchoOutcome outcome;
        QDateTime sentAt, at;
    };
    struct Entry : PassSettings::Entry {
        int sent = 0;
        int reported = 0;
        bool begun = false;         // its lines have begun (the list bound was applied)
        std::uint64_t inFlight = 0; // the echo's attempt, 0 when none
        QDateTime sentAt{};         // of the attempt in flight
        QList<Ended> ended{};       // ended, not yet reported (no allocation until one ends)
    };

    void send(std::size_t entry);
    void ended(std::size_t entry, const EchoOutcome& outcome);
    void pace();
    void advance();
    void report(QString text, std::uint64_t id, const Ended& ended);
    void endRun();
    bool ending() const { return !running_ || abandoned_; }

    ProgramState& state_;
    Echo& echo_;
    Clock& clock_;
    LogWriter& log_;
    Prepare prepare_;
    QTimer* pacer_;
    QTimer* reporter_; // at once: shows the lines that have ended, a few at a time
    std::int64_t pingCount_ = 0;
    bool running_ = false;
    bool abandoned_ = false;
    bool advancing_ = false;
    // Counts passes, so that a pass that a message box held knows when a newer one took over.
    std::uint64_t generation_ = 0;

    // The pass in progress: what it read at its start (its entries moved to entries_), and
    // where it stands.
    PassSettings pass_;
    std::vector<Entry> entries_;
    std::size_t cursor_ = 0;          // the entry whose lines come next
    std::deque<std::size_t> waiting_; // at once: entries whose next request waits its turn
    std::chrono::steady_clock::time_point lastSend_{};
};

} // namespace ew
