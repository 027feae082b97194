#pragma once

#include <QDateTime>

namespace ew {

// The current date and time of the machine's local clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
};

// Asking for the local time makes Qt look at the zone file each time; a monitor asks at every
// attempt. The distance from UTC changes only at a whole minute of UTC (a zone's offsets are
// whole minutes and its changes come at whole minutes of its own time), so it is asked once a
// minute, and again whenever the clock is set back before the minute it was asked in.
class SystemClock final : public Clock {
public:
    QDateTime now() const override;

private:
    mutable qint64 offsetFromMs_ = 0;
    mutable qint64 offsetUntilMs_ = 0;
    mutable int offsetSeconds_ = 0;
};

} // namespace ew
