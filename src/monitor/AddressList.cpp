#include "monitor/AddressList.h"

#include "core/AddressEntries.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <limits>

namespace ew {

AddressList::AddressList(Controls controls) : c_(controls) {
    // The box has no length limit: Qt's default of 32767 characters would cut a pasted list of
    // thousands of addresses, the last one mid-address, which names another host.
    c_.txtIPAddress.setMaxLength(std::numeric_limits<int>::max());
    connect(&c_.txtIPAddress, &QLineEdit::textChanged, this,
            [this] { c_.cmdAdd.setEnabled(true); });
    // Enter in the address box does what Add does, while Add may be pressed.
    connect(&c_.txtIPAddress, &QLineEdit::returnPressed, this, [this] {
        if (c_.cmdAdd.isEnabled())
            cmdAdd_Click();
    });
    connect(&c_.cmdAdd, &QPushButton::clicked, this, &AddressList::cmdAdd_Click);
    // The list box's Click: the operator selects an entry with the mouse (also the one already
    // selected) or the keyboard, or code selects one. Losing the selection is no click.
    connect(&c_.lstIPList, &QListWidget::itemClicked, this,
            [this] { c_.cmdRemove.setEnabled(true); });
    connect(&c_.lstIPList, &QListWidget::itemSelectionChanged, this, [this] {
        if (!c_.lstIPList.selectedItems().isEmpty())
            c_.cmdRemove.setEnabled(true);
    });
    connect(&c_.cmdRemove, &QPushButton::clicked, this, &AddressList::cmdRemove_Click);
    connect(&c_.cmdClear, &QPushButton::clicked, this, &AddressList::cmdClear_Click);
}

void AddressList::cmdAdd_Click() {
    const QString text = c_.txtIPAddress.text();
    if (text.isEmpty())
        return;
    const QStringList entries = addressEntries(text);
    // Emptied also when only line breaks and blanks were pasted: nothing worth keeping.
    c_.txtIPAddress.setText(QString());
    if (entries.isEmpty())
        return;
    c_.cmdClear.setEnabled(true);
    c_.lstIPList.addItems(entries);
    c_.cmdAdd.setEnabled(false);
    // While monitoring Stop is enabled, so Add never enables Ping then.
    if (c_.lstIPList.count() > 0 && !c_.cmdStopPing.isEnabled() && !c_.cmdStartPing.isEnabled())
        c_.cmdStartPing.setEnabled(true);
}

void AddressList::cmdRemove_Click() {
    if (const QList<QListWidgetItem*> selected = c_.lstIPList.selectedItems();
        !selected.isEmpty()) {
        delete selected.first();
        // Nothing is selected after a removal, whatever entry Qt makes current instead.
        c_.lstIPList.clearSelection();
        c_.cmdRemove.setEnabled(false);
    }
    if (c_.lstIPList.count() == 0) {
        c_.cmdStartPing.setEnabled(false);
        c_.cmdClear.setEnabled(false);
    }
}

void AddressList::cmdClear_Click() {
    c_.cmdStartPing.setEnabled(false);
    c_.cmdClear.setEnabled(false);
    c_.lstIPList.clear();
}

} // namespace ew
