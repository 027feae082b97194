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

// Whether the pointer at the point (in the parent's coordinates) is over child as the window
// system sees it: hidden and disabled windows are passed over, as are widgets that let the
// mouse through.
bool catchesPointer(const QObject* child, const QPoint& inParent) {
    const auto* w = qobject_cast<const QWidget*>(child);
    if (!w || w->isWindow() || w->isHidden() || !w->isEnabled() ||
        w->testAttribute(Qt::WA_TransparentForMouseEvents) || !w->geometry().contains(inParent))
        return false;
    const QRegion mask = w->mask();
    return mask.isEmpty() || mask.contains(inParent - w->pos());
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
        const QObjectList& children = w->children();
        const auto top = std::find_if(children.crbegin(), children.crend(),
                                      [&](const QObject* c) { return catchesPointer(c, local); });
        if (top == children.crend())
            return w;
        w = static_cast<QWidget*>(*top);
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
