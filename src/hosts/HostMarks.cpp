#include "hosts/HostMarks.h"

#include <QPainter>
#include <QPixmap>

namespace ew {

namespace {

const QColor UpFill(0x2e, 0xa0, 0x43);
const QColor DownFill(0xd0, 0x21, 0x21);
const QColor SlowFill(0xf0, 0xa0, 0x20); // amber
const QColor UnknownLine(0x80, 0x80, 0x80);
// A dark rim keeps the filled marks apart from a selected row's highlight.
const QColor Rim(0x20, 0x20, 0x20);
constexpr int TraySize = 64;
// The corner mark covers this share of the tray icon's side.
constexpr double TrayMarkShare = 0.55;

void paintMark(QPainter& p, HostState state, const QRectF& box) {
    const double pen = std::max(1.0, box.width() / 8);
    const QRectF inner = box.adjusted(pen, pen, -pen, -pen);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Rim, pen / 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF c = inner.center();
    switch (state) {
    case HostState::Up:
        p.setBrush(UpFill);
        p.drawEllipse(inner);
        break;
    case HostState::Down:
        p.setBrush(DownFill);
        p.drawPolygon(QPolygonF{inner.topLeft(), inner.topRight(), {c.x(), inner.bottom()}});
        break;
    case HostState::Slow:
        // A diamond: neither round like up nor pointing down like down.
        p.setBrush(SlowFill);
        p.drawPolygon(QPolygonF{{c.x(), inner.top()},
                                {inner.right(), c.y()},
                                {c.x(), inner.bottom()},
                                {inner.left(), c.y()}});
        break;
    case HostState::Unknown:
        p.setPen(QPen(UnknownLine, pen));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(inner.adjusted(pen / 2, pen / 2, -pen / 2, -pen / 2));
        break;
    }
}

} // namespace

QIcon hostMark(HostState state, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    paintMark(p, state, QRectF(0, 0, size, size));
    return QIcon(pixmap);
}

QIcon trayMark(const QIcon& programIcon, bool monitoring, bool someDown) {
    QPixmap pixmap = programIcon.pixmap(TraySize, TraySize);
    if (!monitoring)
        return QIcon(pixmap);
    QPainter p(&pixmap);
    const double side = TraySize * TrayMarkShare;
    paintMark(p, someDown ? HostState::Down : HostState::Up,
              QRectF(TraySize - side, TraySize - side, side, side));
    return QIcon(pixmap);
}

} // namespace ew
