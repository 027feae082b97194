#pragma once

#include <QFrame>
#include <QPointer>
#include <QTimer>
#include <vector>

class QLabel;
class QLineEdit;

namespace ew {

class WindowProbe;

// The help pop-up window: a frameless, thinly bordered window with one label and the polling
// timer. It never takes the activation, so the main window keeps the keyboard while it shows.
class frmToolTips : public QFrame {
    Q_OBJECT
public:
    explicit frmToolTips(QWidget* parent);

    QLabel* Label1;
    QTimer* Timer2;
    // The window last found under the pointer; empty when the pop-up has just loaded.
    QPointer<QWidget> LastTipWindow;
};

// The help pop-up of the main window: loads and unloads the pop-up window frmToolTips, owns
// its polling timer Timer2 and decides which help text shows.
class ToolTips : public QObject {
    Q_OBJECT
public:
    // The pointer moving over txtIPAddress restarts the poll.
    ToolTips(QLineEdit& txtIPAddress, QWidget& mainWindow, WindowProbe& windows);
    ~ToolTips() override;

    // Loads the pop-up window hidden, with Timer2 at its design interval and enabled.
    void load();
    // Unloads the pop-up window: it disappears and the polling stops.
    void unload();
    // Touching the timer loads the window first when it is not loaded.
    void setTimerEnabled(bool enabled);
    bool timerEnabled() const { return popup_ && (popup_->Timer2->isActive() || resting_); }
    void setTimerInterval(int ms);
    void hidePopup() {
        if (popup_)
            popup_->hide();
    }
    frmToolTips* window() const { return popup_; }

    void Timer2_Timer();
    void ShowTip(const QString& text);

    // The help text of a control of the main window (empty when it has none).
    static QString helpText(const QString& controlName);
    // The controls the pop-up explains, in the order a poll compares them.
    static QStringList helpControls();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A menu (a context menu, a menu of the menu bar) covers the place where the tip shows and
    // takes the pointer: the tip hides while it is open, and the control under the pointer is
    // looked at afresh once it is closed.
    void hideForMenu();

    // The window a poll compares: a listed control (also when the pointer is over one of its
    // parts, such as a list's viewport), otherwise the top-level window around the widget.
    QWidget* windowUnder(QWidget* widget) const;

    QLineEdit& txtIPAddress_;
    QWidget& main_;
    WindowProbe& windows_;
    QPointer<frmToolTips> popup_;
    // The listed controls in table order; an entry may be null if the design lacks it.
    std::vector<QPointer<QWidget>> listed_;
    // The widget the last poll found under the pointer, before it was mapped to a window.
    QPointer<QWidget> lastUnderPointer_;
    // A poll does nothing while another window is active, so the polling rests until the main
    // window is activated again: Timer2 stays enabled as far as the program is concerned, but
    // the program is not woken every second while the operator works elsewhere.
    bool resting_ = false;
};

} // namespace ew
