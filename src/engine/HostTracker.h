#pragma once

#include "engine/HostStates.h"

#include <QObject>
#include <cstdint>

namespace ew {

class PingPass;
class Monitor;

// The state of every entry while the monitor runs, from the attempts the pass reports: forgotten
// when monitoring starts, and said whenever an entry's state changes.
class HostTracker : public QObject {
    Q_OBJECT
public:
    HostTracker(PingPass& pass, Monitor& monitor);

    HostStates& states() { return states_; }

Q_SIGNALS:
    void hostStateChanged(std::uint64_t entryId, ew::HostState state);

private:
    HostStates states_;
};

} // namespace ew
