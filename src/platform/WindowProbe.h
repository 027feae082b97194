#pragma once

#include <QRect>

class QWidget;

namespace ew {

// What the window system says about the pointer and the active window.
class WindowProbe {
public:
    virtual ~WindowProbe() = default;
    virtual QPoint cursorPos() const = 0;
    // The top-most visible and enabled widget under the global point, or nullptr.
    virtual QWidget* widgetAt(const QPoint& globalPos) const = 0;
    virtual QWidget* activeWindow() const = 0;
};

class QtWindowProbe final : public WindowProbe {
public:
    QPoint cursorPos() const override;
    QWidget* widgetAt(const QPoint& globalPos) const override;
    QWidget* activeWindow() const override;
};

// A dialog of a fixed size with a title bar and a close button only.
inline constexpr Qt::WindowFlags FixedDialog = Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint |
                                               Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                               Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// Moves a dialog so that its frame is centred in area. Until the dialog has a frame of its own,
// the main window's shows what the window manager adds around it.
void centreFrame(QWidget& dialog, const QWidget& mainWindow, const QRect& area);

} // namespace ew
