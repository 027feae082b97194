#include "platform/Beeper.h"
#include "platform/WindowProbe.h"

#include <QApplication>
#include <QCursor>
#include <QWidget>

namespace ew {

void SystemBeeper::beep() {
    QApplication::beep();
}

QPoint QtWindowProbe::cursorPos() const {
    return QCursor::pos();
}

namespace {

// Whether the pointer at the point (in w's parent's coordinates) is over w as the window
// system sees it: hidden and disabled windows are passed over, as are widgets that let the
// mouse through.
bool catchesPointer(const QWidget& w, const QPoint& inParent) {
    if (w.isWindow() || w.isHidden() || !w.isEnabled() ||
        w.testAttribute(Qt::WA_TransparentForMouseEvents))
        return false;
    if (!w.geometry().contains(inParent))
        return false;
    const QRegion mask = w.mask();
    return mask.isEmpty() || mask.contains(inParent - w.pos());
}

} // namespace

QWidget* QtWindowProbe::widgetAt(const QPoint& globalPos) const {
    // QApplication::widgetAt also finds disabled widgets; the pointer over a disabled control
    // is over whatever lies behind it, so walk the children ourselves, top-most first.
    QWidget* w = QApplication::topLevelAt(globalPos);
    if (!w || !w->isEnabled())
        return nullptr;
    for (;;) {
        const QPoint local = w->mapFromGlobal(globalPos);
        QWidget* next = nullptr;
        const QObjectList& children = w->children();
        for (auto it = children.crbegin(); it != children.crend() && !next; ++it) {
            auto* child = qobject_cast<QWidget*>(*it);
            if (child && catchesPointer(*child, local))
                next = child;
        }
        if (!next)
            return w;
        w = next;
    }
}

QWidget* QtWindowProbe::activeWindow() const {
    return QApplication::activeWindow();
}

void centreFrame(QWidget& dialog, const QWidget& mainWindow, const QRect& area) {
    QSize outer = dialog.frameGeometry().size();
    if (outer == dialog.size())
        outer += mainWindow.frameGeometry().size() - mainWindow.geometry().size();
    QRect place(QPoint(), outer);
    place.moveCenter(area.center());
    dialog.move(place.topLeft());
}

} // namespace ew
