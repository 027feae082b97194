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
    if (change == SliderRangeChange || change == SliderValueChange) {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect slider =
            style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
        // The arrows look disabled at either end. A new range comes before the value that
        // follows it, so only a new value is judged by its ends.
        const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0);
        const bool sameEnds = change == SliderRangeChange || ends == shownEnds_;
        if (slider == shownSlider_ && sameEnds)
            return;
        const QRect before = shownSlider_;
        shownSlider_ = slider;
        if (change == SliderValueChange)
            shownEnds_ = ends;
        if (sameEnds && before.isValid()) {
            update(before.united(slider));
            return;
        }
    }
    QScrollBar::sliderChange(change);
}

void RowScrollBar::resizeEvent(QResizeEvent* event) {
    // A new length moves the slider: judge the next change afresh.
    shownSlider_ = QRect();
    QScrollBar::resizeEvent(event);
}

} // namespace ew
