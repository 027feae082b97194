#pragma once

#include <QRect>
#include <QScrollBar>

namespace ew {

// A scroll bar that repaints only when what it shows changes. Every appended line moves the
// range and the value, but at thousands of lines the slider moves by a pixel only now and then.
class RowScrollBar : public QScrollBar {
    Q_OBJECT
public:
    using QScrollBar::QScrollBar;

protected:
    void sliderChange(SliderChange change) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QRect shownSlider_;
    int shownEnds_ = -1;
};

} // namespace ew
