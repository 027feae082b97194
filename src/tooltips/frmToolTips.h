#pragma once

#include <QFrame>
#include <QPointer>
#include <QString>

class QLabel;
class QTimer;

namespace ew {

// The help pop-up window: a frameless, thinly bordered window with one label and the polling
// timer. It never takes the activation, so the main window keeps the keyboard while it shows.
class frmToolTips : public QFrame {
    Q_OBJECT
public:
    explicit frmToolTips(QWidget* parent = nullptr);

    // Timer2's interval at design: a window loaded on its own first polls after this.
    static constexpr int DesignIntervalMs = 3000;

    // Styles the window as it loads: empty caption, the loaded colours, the label's place.
    void Form_Load();

    // Puts the text into the label (lines joined by a carriage return alone show as separate
    // lines) and sizes the label to it and the window around the label.
    void setTipText(const QString& text);
    // The text as last handed to setTipText, carriage returns and all.
    QString tipText() const { return text_; }

    QLabel* Label1 = nullptr;
    QTimer* Timer2 = nullptr;
    // The window last found under the pointer; empty when the pop-up has just loaded.
    QPointer<QWidget> LastTipWindow;

private:
    // The area inside the one-pixel border; the label sits in it.
    QWidget* client_ = nullptr;
    QString text_;
};

} // namespace ew
