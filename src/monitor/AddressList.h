#pragma once

#include <QObject>

class QLineEdit;
class QListWidget;
class QPushButton;

namespace ew {

// Editing the address list and keeping the Add, Remove, Clear and Ping buttons in step.
class AddressList : public QObject {
    Q_OBJECT
public:
    struct Controls {
        QLineEdit& txtIPAddress;
        QListWidget& lstIPList;
        QPushButton &cmdAdd, &cmdRemove, &cmdClear, &cmdStartPing, &cmdStopPing;
    };
    explicit AddressList(Controls controls);

    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmdClear_Click();

private:
    Controls c_;
};

} // namespace ew
