#include "platform/Clock.h"

namespace ew {

QDateTime SystemClock::now() const {
    constexpr qint64 MinuteMs = 60 * 1000;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms < offsetFromMs_ || ms >= offsetUntilMs_) {
        offsetSeconds_ = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
        offsetFromMs_ = ms - ms % MinuteMs;
        offsetUntilMs_ = offsetFromMs_ + MinuteMs;
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSeconds_);
}

} // namespace ew
