#include "probe/Probe.h"

#include "core/TimeText.h"
#include "engine/LogWriter.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "metrics/MetricsServer.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <cstdio>

namespace ew {

namespace {

const QString Prefix = QStringLiteral("EchoWarden probe: ");
} // namespace

Probe::Probe(QString settingsPath, ProbeOverrides overrides, Echo& echo, Clock& clock)
    : settingsPath_(std::move(settingsPath)), overrides_(std::move(overrides)), clock_(clock),
      log_(std::make_unique<LogWriter>(state_, clock)),
      pass_(std::make_unique<PingPass>(state_, echo, clock, *log_,
                                       [this] { return preparePass(); })) {
    state_.stateFlag = StateFlag::Yes;
    connect(log_.get(), &LogWriter::writeFailed, this,
            [this](const QString& path, const QString& reason) {
                logStopped_ = true;
                say(QStringLiteral("cannot write the log %1 (%2): logging stops, probing goes on")
                        .arg(path, reason));
            });
    connect(pass_.get(), &PingPass::attemptReported, this, [this](const Attempt& a) {
        figures_.record(a);
        if (a.reply)
            answered_.insert(a.entryId);
    });
    connect(pass_.get(), &PingPass::duplicateReply, this,
            [this](const QString& address) { figures_.duplicate(address); });
    connect(pass_.get(), &PingPass::receiveError, this, [this] { figures_.receiveError(); });
    connect(pass_.get(), &PingPass::passEnded, this, [this] {
        figures_.passEnded(std::chrono::nanoseconds(passTime_.nsecsElapsed()));
        if (once_) {
            const bool all = std::all_of(
                settings_.pass.entries.begin(), settings_.pass.entries.end(),
                [this](const PassSettings::Entry& e) { return answered_.contains(e.id); });
            leave(all ? 0 : 1);
        }
    });
}

Probe::~Probe() = default;

// Queued: a pass over loopback can end before the event loop has begun, where exit() would
// be lost.
void Probe::leave(int status) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [status] { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
}

void Probe::say(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(Prefix + text));
}

bool Probe::load() {
    QString error;
    std::optional<ProbeSettings> read = readProbeSettings(settingsPath_, &error);
    if (!read) {
        say(error);
        return false;
    }
    settings_ = std::move(*read);
    for (const QString& notice : std::as_const(settings_.notices))
        if (!said_.contains(notice)) {
            said_.insert(notice);
            say(notice);
        }
    state_.unattendedFromHour = settings_.unattendedFromHour;
    state_.unattendedToHour = settings_.unattendedToHour;
    if (state_.logPath != settings_.logPath)
        logStopped_ = false; // a new path gets its own chance
    state_.logPath = settings_.logPath;
    QStringList texts;
    for (const PassSettings::Entry& e : settings_.pass.entries)
        texts << e.text;
    figures_.setEntries(texts);
    return true;
}

bool Probe::start() {
    server_ = std::make_unique<MetricsServer>(figures_);
    const QString listen = !overrides_.listen.isEmpty()         ? overrides_.listen
                           : !settings_.metricsListen.isEmpty() ? settings_.metricsListen
                                                                : MetricsServer::defaultListen();
    QString error;
    if (!server_->listen(listen, &error)) {
        say(error);
        return false;
    }
    monitor_ =
        std::make_unique<Monitor>(*this, state_, *pass_, clock_, [this] { return readTick(); });
    connect(monitor_.get(), &Monitor::tickBegun, this,
            [this] { figures_.setResting(monitor_->resting()); });
    state_.logLineCount = 0;
    log_->beginRun();
    monitor_->start();
    return true;
}

void Probe::runOnce() {
    once_ = true;
    if (settings_.pass.entries.empty()) {
        say(QStringLiteral("nothing to ping: the list in %1 is empty").arg(settingsPath_));
        leave(1);
        return;
    }
    pass_->PingAddresses();
}

void Probe::reload() {
    if (!load())
        say(QStringLiteral("the last settings that could be read stay in use"));
}

void Probe::end() {
    if (monitor_)
        monitor_->shutdown();
    pass_->abandon();
    if (server_)
        server_->stopListening();
    leave(0);
}

PassSettings Probe::preparePass() {
    passTime_.start();
    answered_.clear();
    PassSettings pass = settings_.pass;
    pass.atOnce = pass.atOnce || overrides_.atOnce;
    pass.beep = false;
    if (logStopped_)
        pass.logTotal = pass.logFailed = false;
    return pass;
}

TickSettings Probe::readTick() const {
    TickSettings tick = settings_.tick;
    if (overrides_.interval) {
        tick.interval = overrides_.interval->interval;
        tick.unit = overrides_.interval->unit;
    }
    return tick;
}

} // namespace ew
