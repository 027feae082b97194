#pragma once

#include <QInputDialog>
#include <QObject>
#include <QPointer>
#include <functional>

class QAction;
class QWidget;

namespace ew {

// The "Slow above ... ms" item of the Settings menu: it holds the threshold as its data (0 is
// off), shows it in its text, and opens a small box for the number. Whoever sets the data (the
// box, or the settings as they load) has it applied at once.
class SlowAbove : public QObject {
    Q_OBJECT
public:
    SlowAbove(QAction& item, QWidget& window, std::function<void(int)> apply);

    void mnuSlowAbove_Click();

private:
    void shown();

    QAction& item_;
    QWidget& window_;
    std::function<void(int)> apply_;
    QPointer<QInputDialog> box_;
};

} // namespace ew
