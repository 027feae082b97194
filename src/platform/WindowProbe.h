#pragma once

#include <QPoint>

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

} // namespace ew
