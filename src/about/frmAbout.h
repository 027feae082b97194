#pragma once

#include <QDialog>

namespace ew {

// The About box.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr) : QDialog(parent) {}
};

} // namespace ew
