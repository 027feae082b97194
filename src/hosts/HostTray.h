#pragma once

#include <QMenu>
#include <QObject>

class QPushButton;
class QSystemTrayIcon;
class QWidget;

namespace ew {

// The run in the desktop's tray, where it has one: the icon and its tip tell stopped, all up
// or some down; a click brings the window up; its menu works the window's own buttons, so that
// Ping, Stop and Exit behave exactly as there.
class HostTray : public QObject {
    Q_OBJECT
public:
    // The window's Ping, Stop and Exit buttons, which the menu works.
    struct Buttons {
        QPushButton& start;
        QPushButton& stop;
        QPushButton& exit;
    };
    HostTray(Buttons buttons, QWidget& window);
    ~HostTray() override;

    void show(bool monitoring, bool someDown, const QString& tip);

private:
    void raiseWindow();
    void updateMenu();

    Buttons buttons_;
    QWidget& window_;
    QMenu menu_;
    QAction* pingStop_;
    QSystemTrayIcon* icon_;
};

} // namespace ew
