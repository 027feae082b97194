#pragma once

#include "core/ProgramState.h"
#include "engine/Attempt.h"
#include "metrics/Figures.h"
#include "probe/ProbeSettings.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <memory>
#include <optional>

namespace ew {

class Clock;
class Echo;
class LogWriter;
class MetricsServer;
class Monitor;
class PingPass;

// What the command line says over the settings file.
struct ProbeOverrides {
    QString listen;
    std::optional<TickSettings> interval;
    bool atOnce = false;
};

// The monitor without a window: the settings file's list pinged at its interval, the log
// written as the window writes it (always appended to), and the figures served to
// Prometheus. Errors and notices go to standard error, once each.
class Probe : public QObject {
    Q_OBJECT
public:
    Probe(QString settingsPath, ProbeOverrides overrides, Echo& echo, Clock& clock);
    ~Probe() override;

    // Reads the settings file; false, with the reason on standard error, when it cannot.
    bool load();
    // Serves the figures and starts monitoring; false when the address cannot be listened on.
    bool start();
    // One pass; the program then ends with 0 when every entry answered, 1 otherwise.
    void runOnce();
    // SIGHUP: the file again, every count kept; a file that no longer reads keeps the last.
    void reload();
    // SIGTERM, SIGINT: the attempts in flight dropped, and the event loop left.
    void end();

private:
    PassSettings preparePass();
    TickSettings readTick() const;
    static void say(const QString& text);
    static void leave(int status);

    QString settingsPath_;
    ProbeOverrides overrides_;
    Clock& clock_;
    ProbeSettings settings_;
    ProgramState state_;
    Figures figures_;
    std::unique_ptr<LogWriter> log_;
    std::unique_ptr<PingPass> pass_;
    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<MetricsServer> server_;
    QElapsedTimer passTime_;
    QSet<QString> said_;      // what standard error was told already
    bool logStopped_ = false; // the log could not be written: no more lines until it changes
    // --once: the entries that have answered in the pass.
    QSet<std::uint64_t> answered_;
    bool once_ = false;
};

} // namespace ew
