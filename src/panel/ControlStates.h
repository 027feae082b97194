#pragma once

#include <QObject>

class QMainWindow;
namespace Ui {
class frmEchoWarden;
}

namespace ew {

// What the operator sees and may touch: the settings panel (window height), the lock while the
// log path notice shows, and the Restore Defaults item.
class ControlStates : public QObject {
    Q_OBJECT
public:
    ControlStates(Ui::frmEchoWarden& ui, QMainWindow& window);

    void ToggleControls();
    void UpdateRestoreMenu();

    // Sets the window's height for the full (panel shown) or short layout and places it on
    // the screen: a third of the free height from the top for the full window, half-way for
    // the short one.
    void showPanel(bool shown);
    bool panelShown() const;

private:
    Ui::frmEchoWarden& ui_;
    QMainWindow& window_;
};

} // namespace ew
