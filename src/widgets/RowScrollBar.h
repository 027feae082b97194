#pragma once

#include "widgets/PaintPace.h"

#include <QRect>
#include <QScrollBar>

namespace ew {

// A scroll bar that repaints only when what it shows changes. Every appended line moves the
// range and the value, but at thousands of lines the slider moves by a pixel only now and then;
// when it moves, only the strip that the slider covered or covers repaints, and the bar draws
// every pixel of it itself, so nothing behind it is painted again. While lines only come in, the
// slider shortens at a slow pace: every few seconds rather than with each line.
class RowScrollBar : public QScrollBar {
    Q_OBJECT
public:
    // How often at most lines that only come in shorten the slider on screen.
    static constexpr int GrowthPaceMs = 3000;

    explicit RowScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

    // A new range comes just before the value that follows it, and the slider would jump up
    // and back in between: the changes between hold() and release() are judged once, at the end.
    void hold() { held_ = true; }
    void release();

protected:
    void sliderChange(SliderChange change) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void judge();
    void showSlider();

    QRect shownSlider_;
    int shownEnds_ = -1;
    int shownPageStep_ = -1;
    int judgedMaximum_ = 0;
    int judgedValue_ = 0;
    // The slider is as short as the style makes it and sits at the end, where it stays while
    // the range grows and the value follows: nothing to ask the style.
    bool shortestAtEnd_ = false;
    bool held_ = false;
    PaintPace growth_{this, [this] { showSlider(); }, GrowthPaceMs};
};

} // namespace ew
