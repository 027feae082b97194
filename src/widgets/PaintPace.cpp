#include "widgets/PaintPace.h"

#include <utility>

namespace ew {

PaintPace::PaintPace(QObject* context, std::function<void()> show, int paceMs) : paceMs_(paceMs) {
    timer_.setSingleShot(true);
    QObject::connect(&timer_, &QTimer::timeout, context, [this, show = std::move(show)] {
        shown_.start();
        show();
    });
}

bool PaintPace::mayShow() {
    const qint64 since = shown_.isValid() ? shown_.elapsed() : paceMs_;
    if (since >= paceMs_) {
        timer_.stop();
        shown_.start();
        return true;
    }
    if (!timer_.isActive())
        timer_.start(static_cast<int>(paceMs_ + paceMs_ / 2 - since));
    return false;
}

} // namespace ew
