#include "engine/HostTracker.h"

#include "engine/Monitor.h"
#include "engine/PingPass.h"

namespace ew {

HostTracker::HostTracker(PingPass& pass, Monitor& monitor) {
    connect(&monitor, &Monitor::monitoringStarted, this, [this] { states_.reset(); });
    connect(&pass, &PingPass::attemptReported, this, [this](const Attempt& attempt) {
        if (states_.record(attempt))
            Q_EMIT hostStateChanged(attempt.entryId, states_.state(attempt.entryId));
    });
}

} // namespace ew
