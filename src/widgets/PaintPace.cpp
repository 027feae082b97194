#include "widgets/PaintPace.h"

#include <utility>

namespace ew {

PaintPace::PaintPace(QObject* context, std::function<void()> show) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, context, [this, show = std::move(show)] {
        shown_.start();
        show();
    });
}

bool PaintPace::mayShow() {
    const qint64 since = shown_.isValid() ? shown_.elapsed() : PaceMs;
    if (since >= PaceMs) {
        timer_.stop();
        shown_.start();
        return true;
    }
    if (!timer_.isActive())
        timer_.start(static_cast<int>(PaceMs + PaceMs / 2 - since));
    return false;
}

} // namespace ew
