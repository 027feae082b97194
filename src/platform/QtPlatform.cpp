#include "platform/Beeper.h"
#include "platform/WindowProbe.h"

#include <QApplication>
#include <QCursor>
#include <QWidget>

namespace ew {

void SystemBeeper::beep() { QApplication::beep(); }

QPoint QtWindowProbe::cursorPos() const { return QCursor::pos(); }

QWidget* QtWindowProbe::widgetAt(const QPoint& globalPos) const {
    return QApplication::widgetAt(globalPos);
}

QWidget* QtWindowProbe::activeWindow() const { return QApplication::activeWindow(); }

} // namespace ew
