#include "app/ServeFigures.h"

#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QAction>

namespace ew {

namespace {

const QString Title = QStringLiteral("Serve figures for Prometheus");
const QString CannotServe =
    QStringLiteral("The figures for Prometheus cannot be served: %1.\rMonitoring goes on "
                   "without them.");

} // namespace

ServeFigures::ServeFigures(QAction& mnuServeMetrics, QWidget& window, SettingsStore& store,
                           MessageBoxes& messages, PingPass& pass, Monitor& monitor)
    : item_(mnuServeMetrics), window_(window), store_(store), messages_(messages),
      server_(figures_) {
    connect(&item_, &QAction::triggered, this, &ServeFigures::mnuServeMetrics_Click);
    connect(&pass, &PingPass::attemptReported, this,
            [this](const Attempt& a) { figures_.record(a); });
    connect(&pass, &PingPass::duplicateReply, this,
            [this](const QString& address) { figures_.duplicate(address); });
    connect(&pass, &PingPass::receiveError, this, [this] { figures_.receiveError(); });
    connect(&pass, &PingPass::passEnded, this,
            [this] { figures_.passEnded(std::chrono::nanoseconds(passTime_.nsecsElapsed())); });
    connect(&monitor, &Monitor::tickBegun, this,
            [this, &monitor] { figures_.setResting(monitor.resting()); });
}

void ServeFigures::passStarting(const PassSettings& pass) {
    passTime_.start();
    QStringList texts;
    for (const PassSettings::Entry& e : pass.entries)
        texts << e.text;
    figures_.setEntries(texts);
}

void ServeFigures::apply() {
    if (!item_.isChecked()) {
        server_.stopListening();
        listening_.clear();
        return;
    }
    const QString address = store_.get(keys::App, keys::Section, keys::MetricsListen)
                                .value_or(MetricsServer::defaultListen());
    if (address == listening_)
        return;
    QString error;
    listening_ = server_.listen(address, &error) ? address : QString();
    if (listening_.isEmpty() && !told_.contains(address)) {
        told_.insert(address);
        messages_.show(&window_, CannotServe.arg(error), Title, MsgIcon::Warning, MsgButtons::Ok);
    }
}

} // namespace ew
