#pragma once

#include "metrics/Figures.h"
#include "metrics/MetricsServer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>

class QAction;
class QWidget;

namespace ew {

class MessageBoxes;
class Monitor;
class PingPass;
class SettingsStore;

// Settings > Serve figures for Prometheus: the window serves the figures the probe serves, at
// the address stored as MetricsListen (127.0.0.1:29374 when missing). An address that cannot be
// listened on (a port taken) is told in one box per address; monitoring goes on without them.
class ServeFigures : public QObject {
public:
    ServeFigures(QAction& mnuServeMetrics, QWidget& window, SettingsStore& store,
                 MessageBoxes& messages, PingPass& pass, Monitor& monitor);

    // A pass begins with these settings (its entries, and the start of its time).
    void passStarting(const PassSettings& pass);
    // Serves, or stops serving, as the check mark stands (after loading the settings).
    void apply();
    void mnuServeMetrics_Click() { apply(); }

private:
    QAction& item_;
    QWidget& window_;
    SettingsStore& store_;
    MessageBoxes& messages_;
    Figures figures_;
    MetricsServer server_;
    QElapsedTimer passTime_;
    QString listening_;
    QSet<QString> told_;
};

} // namespace ew
