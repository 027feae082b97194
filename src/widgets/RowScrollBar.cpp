#include "widgets/RowScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace ew {

RowScrollBar::RowScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {
    // Opaque: a repaint of the bar starts at the bar, not at the widgets behind it.
    setAutoFillBackground(true);
}

void RowScrollBar::sliderChange(SliderChange change) {
    if (change != SliderRangeChange && change != SliderValueChange)
        QScrollBar::sliderChange(change);
    else if (!held_)
        judge();
}

void RowScrollBar::release() {
    held_ = false;
    judge();
}

void RowScrollBar::judge() {
    // More lines, and the value stayed or followed the end: nothing the operator did.
    const bool grew =
        maximum() > judgedMaximum_ && !isSliderDown() && pageStep() == shownPageStep_ &&
        (value() == judgedValue_ || (value() == maximum() && judgedValue_ == judgedMaximum_));
    const bool longer = maximum() >= judgedMaximum_;
    // Every change is judged against the last one, even one that shows nothing.
    judgedMaximum_ = maximum();
    judgedValue_ = value();
    // A longer range only makes a slider shorter, which it cannot be.
    if (shortestAtEnd_ && value() == maximum() && sliderPosition() == value() && longer &&
        pageStep() == shownPageStep_)
        return;
    if (grew && shownSlider_.isValid() && !growth_.mayShow())
        return; // shown with the later ones
    growth_.cancel();
    showSlider();
}

void RowScrollBar::showSlider() {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const QRect slider =
        style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
    // The arrows look disabled at either end.
    const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0);
    const int length = orientation() == Qt::Vertical ? slider.height() : slider.width();
    shortestAtEnd_ = ends == 2 && sliderPosition() == value() &&
                     length <= style()->pixelMetric(QStyle::PM_ScrollBarSliderMin, &opt, this);
    shownPageStep_ = pageStep();
    if (slider == shownSlider_ && ends == shownEnds_)
        return;
    const QRect before = shownSlider_;
    const bool sameEnds = ends == shownEnds_;
    shownSlider_ = slider;
    shownEnds_ = ends;
    // The style draws the slider's edge a pixel or two beyond its rectangle.
    if (sameEnds && before.isValid())
        update(before.united(slider).adjusted(-4, -4, 4, 4));
    else
        QScrollBar::sliderChange(SliderValueChange);
}

void RowScrollBar::resizeEvent(QResizeEvent* event) {
    // A new length moves the slider: judge the next change afresh.
    shownSlider_ = QRect();
    shortestAtEnd_ = false;
    QScrollBar::resizeEvent(event);
}

} // namespace ew
