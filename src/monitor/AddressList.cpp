#include "monitor/AddressList.h"

#include "ui_frmEchoWarden.h"

namespace ew {

AddressList::AddressList(Ui::frmEchoWarden& ui) : ui_(ui) {}

void AddressList::txtIPAddress_Change() {}
void AddressList::cmdAdd_Click() {}
void AddressList::lstIPList_Click() {}
void AddressList::cmdRemove_Click() {}
void AddressList::cmdClear_Click() {}

} // namespace ew
