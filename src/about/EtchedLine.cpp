#include "about/EtchedLine.h"

#include <QPainter>

namespace ew {

void EtchedLine::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(0, 0, width(), ShadowWidth, Shadow);
    p.fillRect(0, ShadowWidth, width(), LightWidth, Light);
}

} // namespace ew
