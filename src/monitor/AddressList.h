#pragma once

#include <QObject>

namespace Ui {
class frmEchoWarden;
}

namespace ew {

// Editing the address list and keeping the Add, Remove, Clear and Ping buttons in step.
class AddressList : public QObject {
    Q_OBJECT
public:
    explicit AddressList(Ui::frmEchoWarden& ui);

    void txtIPAddress_Change();
    void cmdAdd_Click();
    void lstIPList_Click();
    void cmdRemove_Click();
    void cmdClear_Click();

    // The selected entry's row, or -1 when none is selected.
    int selectedRow() const;

private:
    Ui::frmEchoWarden& ui_;
};

} // namespace ew
