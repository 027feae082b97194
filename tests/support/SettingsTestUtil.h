#pragma once

#include "core/Convert.h"
#include "editors/LogFile.h"
#include "ui_frmEchoWarden.h"

#include <QStringList>

namespace ew::test {

struct ShownSettings {
    QString log;
    QStringList numbers; // packet size, time-out, interval, attempts
    QList<int> options;  // minutes, seconds, tenth-seconds selected
    QList<int> checks;   // beep, log all, log failed (0, 1, 2)
    QList<int> marks;    // save on exit, unattended checked
    QStringList addresses = {};
    bool operator==(const ShownSettings&) const = default;
};

inline ShownSettings shown(Ui::frmEchoWarden& ui) {
    ShownSettings s{
        ui.txtLog->text(),
        {ui.txtNumBytes->text(), ui.txtTimeout->text(), ui.txtInterval->text(),
         ui.txtAttempts->text()},
        {ui.optMinutes->isChecked(), ui.optSeconds->isChecked(), ui.optMilSeconds->isChecked()},
        {checkValue(*ui.chkBeep), checkValue(*ui.chkLogTotal), checkValue(*ui.chkLogFailed)},
        {ui.mnuSSave->isChecked(), ui.mnuUnattended->isChecked()}};
    for (int i = 0; i < ui.lstIPList->count(); ++i)
        s.addresses << ui.lstIPList->item(i)->text();
    return s;
}

// What a first run with an empty store shows.
inline ShownSettings firstRun() {
    return {LogFile::defaultLogPath(), {"16", "3", "5", "1"}, {1, 0, 0}, {0, 0, 0}, {1, 0}};
}

} // namespace ew::test
