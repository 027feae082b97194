#pragma once

#include <QDialog>

namespace ew {

// The modal schedule dialog of the unattended mode.
class frmSchedule : public QDialog {
    Q_OBJECT
public:
    explicit frmSchedule(QWidget* parent = nullptr) : QDialog(parent) {}
};

} // namespace ew
