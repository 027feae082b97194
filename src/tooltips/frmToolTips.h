#pragma once

#include <QWidget>

namespace ew {

// The help pop-up window.
class frmToolTips : public QWidget {
    Q_OBJECT
public:
    explicit frmToolTips(QWidget* parent = nullptr) : QWidget(parent) {}
};

} // namespace ew
