#include "hosts/HostWatch.h"

#include "hosts/HostMarks.h"
#include "platform/Notifier.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QListWidget>
#include <QMenu>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QToolTip>
#include <utility>

namespace ew {

namespace {

const QString AccessibleText = QStringLiteral("%1, %2");
const QString StoppedTip = QStringLiteral("%1: stopped");
// Room around the mark inside a row, so that it reads as a mark and not as the text's bullet.
constexpr int MarkMargin = 3;

// Marks follow their attempts within this span. Each batch of changed marks makes the list lay
// out all its entries again: a quarter of a second reads as at once, and a first pass over a
// thousand entries lays them out a few times rather than some twenty.
constexpr int MarkDelayMs = 250;

} // namespace

HostWatch::HostWatch(HostTracker& hosts, QListWidget& list, QAction& mnuNotify,
                     HostTray::Buttons buttons, QWidget& window, Notifier& notifier)
    : states_(hosts.states()), list_(list), mnuNotify_(mnuNotify), window_(window),
      notifier_(notifier) {
    // A mark no taller than the text keeps the rows, and so the entries in view, as designed.
    const int markSize = std::max(list.fontMetrics().height() - MarkMargin, MarkMargin * 2);
    list.setIconSize(QSize(markSize, markSize));
    markLater_.setSingleShot(true);
    markLater_.setInterval(MarkDelayMs);
    connect(&markLater_, &QTimer::timeout, this, &HostWatch::showChanges);
    connect(&hosts, &HostTracker::hostStateChanged, this, [this](std::uint64_t entryId) {
        changed_.push_back(entryId);
        if (!markLater_.isActive())
            markLater_.start();
    });
    // Drawn once: a list of thousands of entries shares four icons.
    for (HostState state : {HostState::Unknown, HostState::Up, HostState::Down, HostState::Slow})
        marks_[static_cast<int>(state)] = hostMark(state, markSize);
    connect(list.model(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
                for (int row = first; row <= last; ++row)
                    showState(*list_.item(row), HostState::Unknown);
                rows_.clear();
            });
    // Rows move when entries come and go; where an entry is is looked up again then.
    connect(list.model(), &QAbstractItemModel::rowsRemoved, this, [this] { rows_.clear(); });
    connect(list.model(), &QAbstractItemModel::modelReset, this, [this] { rows_.clear(); });

    listMenu_ = new QMenu(&list);
    listMenu_->setObjectName(QStringLiteral("mnuAddresses"));
    listMenu_->addAction(tr("Copy &Statistics"), this, &HostWatch::copyStatistics)
        ->setObjectName(QStringLiteral("mnuCopyStatistics"));
    // The right button and the Menu key come as the list's context menu request; Shift+F10 is
    // the other key for it that desktops know.
    list.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&list, &QWidget::customContextMenuRequested, this, &HostWatch::popupListMenu);
    auto* shiftF10 = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10), &list);
    shiftF10->setContext(Qt::WidgetShortcut);
    connect(shiftF10, &QShortcut::activated, this, [this] {
        const QListWidgetItem* current = list_.currentItem();
        popupListMenu(current ? list_.visualItemRect(current).bottomLeft() : QPoint());
    });
    list.viewport()->installEventFilter(this);

    // Once the window shows: asking the desktop for its tray costs a start-up time of its own.
    QTimer::singleShot(0, this, [this, buttons] {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            tray_ = std::make_unique<HostTray>(buttons, window_);
        showRun();
    });
}

HostWatch::~HostWatch() = default;

void HostWatch::monitoringStarted() {
    changed_.clear();
    monitoring_ = true;
    showAllStates();
    showRun();
}

void HostWatch::monitoringStopped() {
    // Marks that go on showing the last states would tell of hosts nobody watches any more;
    // the figures stay for Copy Statistics until the next Ping.
    monitoring_ = false;
    changed_.clear();
    markLater_.stop();
    states_.takeNotices();
    showAllStates();
    showRun();
}

void HostWatch::showChanges() {
    if (!monitoring_)
        return;
    if (rows_.isEmpty())
        for (int row = 0; row < list_.count(); ++row)
            rows_.insert(entryOf(*list_.item(row)).id, list_.item(row));
    for (const std::uint64_t id : std::exchange(changed_, {}))
        // An entry removed meanwhile has no row left to mark.
        if (QListWidgetItem* item = rows_.value(id))
            showState(*item, states_.state(id));
    showRun();
}

void HostWatch::passEnded() {
    const std::vector<Notice> notices = states_.takeNotices();
    if (!mnuNotify_.isChecked())
        return;
    for (const Notice& n : notices)
        notifier_.notify(n.summary, n.body);
}

HostStates::ListEntry HostWatch::entryOf(const QListWidgetItem& item) const {
    return {item.data(EntryIdRole).toULongLong(), item.text()};
}

void HostWatch::copyStatistics() {
    std::vector<HostStates::ListEntry> entries;
    for (int row = 0; row < list_.count(); ++row)
        entries.push_back(entryOf(*list_.item(row)));
    QGuiApplication::clipboard()->setText(states_.statisticsTsv(entries));
}

void HostWatch::showState(QListWidgetItem& item, HostState state) {
    item.setIcon(marks_[static_cast<int>(state)]);
    // While monitoring, a screen reader reads the state with the entry; otherwise there is no
    // state to read (and a long list loads without a text made for each entry).
    item.setData(Qt::AccessibleTextRole,
                 monitoring_
                     ? QVariant(AccessibleText.arg(item.text(), HostStates::stateName(state)))
                     : QVariant());
}

void HostWatch::showAllStates() {
    for (int row = 0; row < list_.count(); ++row)
        showState(*list_.item(row),
                  monitoring_ ? states_.state(entryOf(*list_.item(row)).id) : HostState::Unknown);
}

void HostWatch::showRun() {
    if (!tray_)
        return;
    QStringList down;
    int slow = 0;
    for (int row = 0; row < list_.count(); ++row) {
        const HostState state = states_.state(entryOf(*list_.item(row)).id);
        if (state == HostState::Down)
            down << list_.item(row)->text();
        slow += state == HostState::Slow;
    }
    tray_->show(monitoring_, !down.isEmpty(),
                monitoring_ ? HostStates::downSummary(down, list_.count(), slow)
                            : StoppedTip.arg(window_.windowTitle()));
}

void HostWatch::popupListMenu(const QPoint& viewportPos) {
    if (listMenu_->isVisible())
        return;
    listMenu_->actions().constFirst()->setEnabled(list_.count() > 0);
    // popup() rather than exec(): the monitor goes on while the menu is open.
    listMenu_->popup(list_.viewport()->mapToGlobal(viewportPos));
}

bool HostWatch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip)
        return QObject::eventFilter(watched, event);
    // Made when asked for rather than kept in every item: an item's change repaints the list,
    // and the figures change at every attempt.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QListWidgetItem* item = list_.itemAt(help->pos());
    const QString figures = monitoring_ && item ? states_.figuresText(entryOf(*item)) : QString();
    if (figures.isEmpty())
        return QObject::eventFilter(watched, event);
    QToolTip::showText(help->globalPos(), figures, list_.viewport(), list_.visualItemRect(item));
    Q_EMIT figuresShown();
    return true;
}

} // namespace ew
