#pragma once

#include <QObject>
#include <QPointer>

class QWidget;

namespace Ui {
class frmEchoWarden;
}

namespace ew {

// While a pass runs, the window's event loop runs too (it paints and keeps time), but the
// operator's input is refused everywhere except on the ways out of the pass: Stop, Exit, the
// File menu's Exit item and the close box. So nothing can edit the list, change a setting, open
// a dialog or start a second pass underneath the running one. Refused input is dropped, not
// held back: a click the operator saw do nothing must not act seconds later. A message box that
// the pass opens (a log line that cannot be written) is answered as usual.
class PassInputGuard : public QObject {
    Q_OBJECT
public:
    explicit PassInputGuard(Ui::frmEchoWarden& ui);
    ~PassInputGuard() override;

    // Installs the filter on the application; idempotent.
    void engage();
    void release();
    bool engaged() const { return engaged_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool allowed(QObject* receiver, QEvent* event) const;

    Ui::frmEchoWarden& ui_;
    // The modal window that was open when the pass began (the schedule dialog, say): it waits
    // like the main window. A box that the pass itself opens takes its answer.
    QPointer<QWidget> modalBefore_;
    bool engaged_ = false;
};

} // namespace ew
