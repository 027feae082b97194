#pragma once

#include "engine/HostTracker.h"
#include "hosts/HostTray.h"

#include <QHash>
#include <QIcon>
#include <QTimer>
#include <memory>
#include <vector>

class QAction;
class QListWidget;
class QListWidgetItem;

namespace ew {

class Notifier;

// Which hosts are down, at a glance: the state of every entry of the address list as a mark
// beside it, its figures in a pop-up and in Copy Statistics, a notification when a host goes
// down or comes back, and the run in the tray. Fed by the engine's host states.
class HostWatch : public QObject {
    Q_OBJECT
public:
    HostWatch(HostTracker& hosts, QListWidget& list, QAction& mnuNotify, HostTray::Buttons buttons,
              QWidget& window, Notifier& notifier);
    ~HostWatch() override;

    void monitoringStarted();
    void monitoringStopped();
    void passEnded();
    void copyStatistics();

    QMenu* listMenu() const { return listMenu_; }

Q_SIGNALS:
    // An entry's figures went up in a pop-up of their own (the help pop-up has no place for
    // them and would cover them).
    void figuresShown();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showState(QListWidgetItem& item, HostState state);
    void showChanges();
    void showAllStates();
    void showRun();
    void popupListMenu(const QPoint& viewportPos);
    HostStates::ListEntry entryOf(const QListWidgetItem& item) const;

    HostStates& states_;
    QListWidget& list_;
    QAction& mnuNotify_;
    QWidget& window_;
    Notifier& notifier_;
    QMenu* listMenu_;
    std::unique_ptr<HostTray> tray_;
    bool monitoring_ = false;
    QIcon marks_[4]; // by HostState
    // Where each entry is, by its id; emptied whenever rows come or go.
    QHash<std::uint64_t, QListWidgetItem*> rows_;
    std::vector<std::uint64_t> changed_; // entries whose marks wait for markLater_
    QTimer markLater_;
};

} // namespace ew
