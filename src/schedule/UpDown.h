#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace ew {

// An up-down spinner bound to a text box: each step takes the number in the box, moves it by
// one within the spinner's range and writes the new number into the box (which raises the
// box's change rule, as typing would).
class UpDown : public QWidget {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);

    void setBuddy(QLineEdit* buddy) { buddy_ = buddy; }
    void setRange(int minimum, int maximum);
    void stepUp() { stepBy(1); }
    void stepDown() { stepBy(-1); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void stepBy(int steps);

    QLineEdit* buddy_ = nullptr;
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0;
    int max_ = 0;
    // The spinner's own position: where the last step ended, or the box's number when it held
    // one at the step.
    int value_ = 0;
};

} // namespace ew
