#include "engine/PingPass.h"

#include "core/ProgramState.h"
#include "core/ResultMarks.h"
#include "core/TimeText.h"
#include "echo.h"
#include "engine/LogWriter.h"
#include "platform/Clock.h"

#include <QTimer>
#include <limits>
#include <utility>

namespace ew {

namespace {

// How long the lines of a pass at once may wait to be shown: they come out some twenty-five
// times a second, which reads as smooth, and each time costs a repaint of the window.
constexpr int AtOnceReportMs = 40;

Failure failureOf(int result) {
    switch (result) {
    case ECHO_OK:
        return Failure::None;
    case ECHO_TIMEOUT:
        return Failure::TimedOut;
    case ECHO_UNREACHABLE:
        return Failure::Unreachable;
    case ECHO_ICMP_ERROR:
        return Failure::OtherIcmpError;
    default: // no address, no socket, no route: the request never left
        return Failure::SendError;
    }
}

QString failureLine(const QString& timeOfDay, const QString& address) {
    return QChar(FailureMark) + QStringLiteral(" ") + timeOfDay + QStringLiteral(" Ping to  ") +
           address + QStringLiteral(" --== F A I L E D ==-- ");
}

} // namespace

PingPass::PingPass(ProgramState& state, Echo& echo, Clock& clock, LogWriter& log, Prepare prepare)
    : state_(state), echo_(echo), clock_(clock), log_(log), prepare_(std::move(prepare)),
      pacer_(new QTimer(this)), reporter_(new QTimer(this)) {
    echo_.setEvents({[this](const QString& address) { Q_EMIT duplicateReply(address); },
                     [this] { Q_EMIT receiveError(); }});
    pacer_->setSingleShot(true);
    pacer_->setTimerType(Qt::PreciseTimer);
    connect(pacer_, &QTimer::timeout, this, &PingPass::pace);
    reporter_->setSingleShot(true);
    reporter_->setInterval(AtOnceReportMs);
    connect(reporter_, &QTimer::timeout, this, &PingPass::advance);
}

PingPass::~PingPass() {
    endRun();
    echo_.setEvents({});
}

QString PingPass::replyLine(const QString& timeOfDay, const QString& address,
                            std::int32_t roundTripMs) {
    return QChar(ReplyMark) + QStringLiteral(" ") + timeOfDay + QStringLiteral(" Reply from ") +
           address + QStringLiteral(", Time:") + QString::number(roundTripMs) +
           QStringLiteral(" ms");
}

void PingPass::PingAddresses() {
    endRun();
    running_ = true;
    advancing_ = false;
    const std::uint64_t generation = ++generation_;
    PassSettings settings = prepare_();
    // The check of the log path may have waited for the operator, who may have stopped or
    // ended meanwhile.
    if (ending() || generation != generation_)
        return;

    pass_ = std::move(settings);
    for (PassSettings::Entry& e : std::exchange(pass_.entries, {}))
        entries_.push_back({std::move(e)});
    if (pass_.atOnce && pass_.attempts > 0) {
        for (std::size_t i = 0; i < entries_.size(); ++i)
            waiting_.push_back(i);
        pace();
    }
    advance();
    // The first replies of a pass over fast hosts end their attempts in this same wake-up.
    if (running_ && generation == generation_)
        echo_.collect();
}

// Drops whatever the pass still has in flight.
void PingPass::endRun() {
    for (const Entry& e : entries_)
        if (e.inFlight)
            echo_.cancel(e.inFlight);
    entries_.clear();
    waiting_.clear();
    pacer_->stop();
    reporter_->stop();
    cursor_ = 0;
}

void PingPass::stop() {
    if (!running_)
        return;
    running_ = false;
    ++generation_;
    endRun();
}

void PingPass::abandon() {
    abandoned_ = true;
    stop();
}

void PingPass::send(std::size_t entry) {
    Entry& e = entries_[entry];
    ++e.sent;
    // Sixteen bytes of capture, which the callback keeps without a heap block of its own.
    const auto index = static_cast<std::uint32_t>(entry);
    const auto generation = static_cast<std::uint32_t>(generation_);
    e.sentAt = clock_.now();
    e.inFlight = echo_.start(e.text, pass_.packetSize, pass_.timeoutMs,
                             [this, index, generation](const EchoOutcome& outcome) {
                                 if (generation == static_cast<std::uint32_t>(generation_))
                                     ended(index, outcome);
                             });
}

// At once: the next waiting entry's request goes out when its turn has come.
void PingPass::pace() {
    if (waiting_.empty() || ending())
        return;
    const auto now = std::chrono::steady_clock::now();
    const auto due = lastSend_ + SendSpacing;
    if (now < due)
        return pacer_->start(std::chrono::ceil<std::chrono::milliseconds>(due - now));
    const std::size_t entry = waiting_.front();
    waiting_.pop_front();
    lastSend_ = now;
    send(entry);
    if (!waiting_.empty())
        pacer_->start(SendSpacing);
}

void PingPass::ended(std::size_t entry, const EchoOutcome& outcome) {
    Entry& e = entries_[entry];
    e.inFlight = 0;
    // The time of day on the line is when its own attempt ended, whenever the line shows.
    e.ended.push_back({outcome, e.sentAt, clock_.now()});
    if (!pass_.atOnce)
        return advance(); // its line, then the next attempt
    if (e.sent < pass_.attempts) {
        waiting_.push_back(entry);
        pace();
    }
    // Replies to a pass at once trickle in at the pace of the requests: their lines go out a
    // few at a time, so that the window repaints some tens of times a second, not a thousand.
    if (!reporter_->isActive())
        reporter_->start();
}

// Shows every line that has ended and all of whose predecessors have, in list order, and one
// after another sends the next attempt once the last one is shown.
void PingPass::advance() {
    // A message box of the log holds the pass: the call that opened it goes on once it is
    // answered, and lines that end meanwhile wait for it.
    if (advancing_)
        return;
    advancing_ = true;
    const std::uint64_t generation = generation_;
    while (!ending() && cursor_ < entries_.size()) {
        Entry& e = entries_[cursor_];
        if (!e.begun) {
            e.begun = true;
            Q_EMIT entryBegun();
        }
        if (!e.ended.empty()) {
            const Ended outcome = e.ended.takeFirst();
            ++e.reported;
            // Copies: a box that the report opens may see the pass stopped and its entries gone.
            report(e.text, e.id, outcome);
            if (generation != generation_)
                return; // a newer pass took over while a box of this one was open
            continue;
        }
        if (e.reported >= pass_.attempts) {
            ++cursor_;
            continue;
        }
        if (!pass_.atOnce && !e.inFlight)
            send(cursor_);
        break;
    }
    advancing_ = false;
    if (!ending() && cursor_ == entries_.size()) {
        running_ = false;
        entries_.clear();
        Q_EMIT passEnded();
    }
}

void PingPass::report(QString text, std::uint64_t id, const Ended& ended) {
    const EchoOutcome& outcome = ended.outcome;
    const QString now = timeOfDayText(ended.at.time());
    const bool reply = outcome.result == ECHO_OK;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(outcome.roundTrip);
    if (!reply && pass_.beep)
        Q_EMIT beepDue();
    const QString line = reply ? replyLine(now, text, static_cast<std::int32_t>(ms.count()))
                               : failureLine(now, text);
    Q_EMIT resultLine(line);
    if (!reply)
        ++state_.failedCount;
    if (pass_.logTotal || (!reply && pass_.logFailed)) {
        log_.AppendLogLine(line, state_.logLineCount, pass_.logTotal);
        // Only "nothing logged yet in this run" matters, so the count stops at its top.
        if (state_.logLineCount < std::numeric_limits<decltype(state_.logLineCount)>::max())
            ++state_.logLineCount;
    }
    ++pingCount_;
    Q_EMIT countsChanged(pingCount_, state_.failedCount, !reply);
    Q_EMIT attemptReported(Attempt{id, std::move(text), reply,
                                   reply ? outcome.roundTrip : std::chrono::nanoseconds{0},
                                   ended.at, failureOf(outcome.result), ended.sentAt, outcome.ip});
}

} // namespace ew
