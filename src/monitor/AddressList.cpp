#include "monitor/AddressList.h"

#include "core/AddressEntries.h"
#include "ui_frmEchoWarden.h"

#include <limits>

namespace ew {

AddressList::AddressList(Ui::frmEchoWarden& ui) : ui_(ui) {
    // The box has no length limit: Qt's default of 32767 characters would cut a pasted list of
    // thousands of addresses, the last one mid-address, which names another host.
    ui_.txtIPAddress->setMaxLength(std::numeric_limits<int>::max());
    connect(ui_.txtIPAddress, &QLineEdit::textChanged, this, &AddressList::txtIPAddress_Change);
    // Enter in the address box does what Add does, while Add may be pressed.
    connect(ui_.txtIPAddress, &QLineEdit::returnPressed, this, [this] {
        if (ui_.cmdAdd->isEnabled())
            cmdAdd_Click();
    });
    connect(ui_.cmdAdd, &QPushButton::clicked, this, &AddressList::cmdAdd_Click);
    // The list box's Click: the operator selects an entry with the mouse (also the one already
    // selected) or the keyboard, or code selects one. Losing the selection is no click.
    connect(ui_.lstIPList, &QListWidget::itemClicked, this, &AddressList::lstIPList_Click);
    connect(ui_.lstIPList, &QListWidget::itemSelectionChanged, this, [this] {
        if (selectedRow() >= 0)
            lstIPList_Click();
    });
    connect(ui_.cmdRemove, &QPushButton::clicked, this, &AddressList::cmdRemove_Click);
    connect(ui_.cmdClear, &QPushButton::clicked, this, &AddressList::cmdClear_Click);
}

void AddressList::txtIPAddress_Change() {
    ui_.cmdAdd->setEnabled(true);
}

void AddressList::cmdAdd_Click() {
    const QString text = ui_.txtIPAddress->text();
    if (text.isEmpty())
        return;
    const QStringList entries = addressEntries(text);
    if (entries.isEmpty()) {
        // Only line breaks and blanks were pasted: nothing to add, and nothing worth keeping.
        ui_.txtIPAddress->setText(QString());
        return;
    }
    ui_.cmdClear->setEnabled(true);
    ui_.lstIPList->addItems(entries);
    ui_.txtIPAddress->setText(QString());
    ui_.cmdAdd->setEnabled(false);
    // While monitoring Stop is enabled, so Add never enables Ping then.
    if (ui_.lstIPList->count() > 0 && !ui_.cmdStopPing->isEnabled() &&
        !ui_.cmdStartPing->isEnabled())
        ui_.cmdStartPing->setEnabled(true);
}

void AddressList::lstIPList_Click() {
    ui_.cmdRemove->setEnabled(true);
}

int AddressList::selectedRow() const {
    const QList<QListWidgetItem*> selected = ui_.lstIPList->selectedItems();
    return selected.isEmpty() ? -1 : ui_.lstIPList->row(selected.first());
}

void AddressList::cmdRemove_Click() {
    const int row = selectedRow();
    if (row >= 0) {
        delete ui_.lstIPList->takeItem(row);
        // Nothing is selected after a removal, whatever entry Qt makes current instead.
        ui_.lstIPList->clearSelection();
        ui_.cmdRemove->setEnabled(false);
    }
    if (ui_.lstIPList->count() == 0) {
        ui_.cmdStartPing->setEnabled(false);
        ui_.cmdClear->setEnabled(false);
    }
}

void AddressList::cmdClear_Click() {
    ui_.cmdStartPing->setEnabled(false);
    ui_.cmdClear->setEnabled(false);
    ui_.lstIPList->clear();
}

} // namespace ew
