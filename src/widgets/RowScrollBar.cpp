#include "widgets/RowScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace ew {

void RowScrollBar::sliderChange(SliderChange change) {
    if (change == SliderRangeChange || change == SliderValueChange) {
        QStyleOptionSlider opt;
        initStyleOption(&opt);
        const QRect slider =
            style()->subControlRect(QStyle::CC_ScrollBar, &opt, QStyle::SC_ScrollBarSlider, this);
        // The arrows look disabled at either end. A new range comes before the value that
        // follows it, so only a new value is judged by its ends.
        const int ends = (value() == minimum() ? 1 : 0) | (value() == maximum() ? 2 : 0);
        if (slider == shownSlider_ && (change == SliderRangeChange || ends == shownEnds_))
            return;
        shownSlider_ = slider;
        shownEnds_ = ends;
    }
    QScrollBar::sliderChange(change);
}

void RowScrollBar::resizeEvent(QResizeEvent* event) {
    // A new length moves the slider: judge the next change afresh.
    shownSlider_ = QRect();
    QScrollBar::resizeEvent(event);
}

} // namespace ew
