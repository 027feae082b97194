#pragma once

#include "engine/HostStates.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"

#include <QObject>
#include <cstdint>

namespace ew {

// The state of every entry while the monitor runs, from the attempts the pass reports: forgotten
// when monitoring starts, and said whenever an entry's state changes.
class HostTracker : public QObject {
    Q_OBJECT
public:
    HostTracker(PingPass& pass, Monitor& monitor) {
        connect(&monitor, &Monitor::monitoringStarted, this, [this] { states_.reset(); });
        connect(&pass, &PingPass::attemptReported, this, [this](const Attempt& attempt) {
            if (states_.record(attempt))
                Q_EMIT hostStateChanged(attempt.entryId, states_.state(attempt.entryId));
        });
    }

    HostStates& states() { return states_; }

Q_SIGNALS:
    void hostStateChanged(std::uint64_t entryId, ew::HostState state);

private:
    HostStates states_;
};

} // namespace ew
