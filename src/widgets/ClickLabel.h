#pragma once

#include <QLabel>

namespace ew {

// A caption label that acts on the control beside it when clicked.
class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

Q_SIGNALS:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

} // namespace ew
