#include "app/frmEchoWarden.h"

#include "app/ServeFigures.h"

#include "about/About.h"
#include "editors/LogFile.h"
#include "editors/NumericFields.h"
#include "engine/HostTracker.h"
#include "engine/LogWriter.h"
#include "engine/Monitor.h"
#include "engine/PingPass.h"
#include "history/HistoryStore.h"
#include "historyview/HistoryWindow.h"
#include "hosts/HostTray.h"
#include "hosts/HostWatch.h"
#include "hosts/SlowAbove.h"
#include "monitor/AddressList.h"
#include "monitor/MonitorControls.h"
#include "panel/ControlStates.h"
#include "schedule/Schedule.h"
#include "settings/Settings.h"
#include "tooltips/ToolTips.h"
#include "ui_frmEchoWarden.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QProxyStyle>
#include <QTimer>

namespace ew {

namespace {

// The application's style with a wider gap between a radio button and its caption. The
// tenth-seconds option carries its own caption, which this sets as far from its button as the
// other two options' labels are from theirs. A style sheet would do the same, but the first
// one costs the start of the window more than a millisecond.
class CaptionGap final : public QProxyStyle {
public:
    explicit CaptionGap(QWidget& widget) : QProxyStyle(QApplication::style()->name()) {
        setParent(&widget);
        widget.setStyle(this);
    }
    int pixelMetric(PixelMetric metric, const QStyleOption* option,
                    const QWidget* widget) const override {
        return metric == PM_RadioButtonLabelSpacing
                   ? 10
                   : QProxyStyle::pixelMetric(metric, option, widget);
    }
};

} // namespace

frmEchoWarden::frmEchoWarden(Platform platform, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      platform_(platform), ui_(std::make_unique<Ui::frmEchoWarden>()) {
    // Once the window shows: the first image that is read loads every image plug-in, which
    // would hold the window a few milliseconds (the tray, which shows this icon, comes later).
    QTimer::singleShot(0, this,
                       [this] { setWindowIcon(QIcon(QStringLiteral(":/echowarden.png"))); });
    // The captions were sized for a narrow 8-point system font; a semi-condensed face (where
    // the desktop has one) keeps them whole at their design widths. Set before the controls
    // are made, so that they are measured in it once, not first in the desktop's own font.
    QFont narrow = font();
    narrow.setPointSize(8);
    narrow.setStretch(QFont::SemiCondensed);
    setFont(narrow);
    ui_->setupUi(this);
    new CaptionGap(*ui_->optMilSeconds);
    ui_->StatusBar1->setClock(&platform_.clock);
    ui_->lstPingResults->setMessageBoxes(&platform_.messages);

    controls_ = std::make_unique<ControlStates>(*ui_, *this);
    tips_ = std::make_unique<ToolTips>(*ui_->txtIPAddress, *this, platform_.windows);
    logWriter_ = std::make_unique<LogWriter>(state_, platform_.clock);
    log_ = std::make_unique<LogFile>(
        LogFile::Controls{*ui_->chkLogTotal, *ui_->chkLogFailed, *ui_->txtLog, *ui_->cmdSetLog,
                          *ui_->cmdOpenLog, *ui_->cmdStartPing, *ui_->lstPingResults,
                          *ui_->txtPathError, *ui_->StatusBar1},
        *this, state_, *controls_, *logWriter_, platform_.messages, platform_.launcher);
    numeric_ = std::make_unique<NumericFields>(*ui_, state_, *controls_);
    monitorControls_ = std::make_unique<MonitorControls>(*ui_, state_, *controls_, *log_, *tips_,
                                                         platform_.beeper);
    MonitorControls& controls = *monitorControls_;
    pass_ = std::make_unique<PingPass>(state_, platform_.echo, platform_.clock, *logWriter_,
                                       [this, &controls] {
                                           PassSettings pass = controls.passSettings();
                                           serveFigures_->passStarting(pass);
                                           return pass;
                                       });
    monitor_ = std::make_unique<Monitor>(*this, state_, *pass_, platform_.clock,
                                         [&controls] { return controls.tickSettings(); });
    monitorControls_->attach(*pass_, *monitor_, *logWriter_);
    serveFigures_ = std::make_unique<ServeFigures>(*ui_->mnuServeMetrics, *this, platform_.store,
                                                   platform_.messages, *pass_, *monitor_);
    // Before the host watch, so that a new run's states are forgotten before it shows them.
    hostTracker_ = std::make_unique<HostTracker>(*pass_, *monitor_);
    hosts_ = std::make_unique<HostWatch>(
        *hostTracker_, *ui_->lstIPList, *ui_->mnuNotify,
        HostTray::Buttons{*ui_->cmdStartPing, *ui_->cmdStopPing, *ui_->cmdExit}, *this,
        platform_.notifier);
    connect(pass_.get(), &PingPass::passEnded, hosts_.get(), &HostWatch::passEnded);
    connect(monitor_.get(), &Monitor::monitoringStarted, hosts_.get(),
            &HostWatch::monitoringStarted);
    connect(monitor_.get(), &Monitor::monitoringStopped, hosts_.get(),
            &HostWatch::monitoringStopped);
    connect(hosts_.get(), &HostWatch::figuresShown, tips_.get(), &ToolTips::hidePopup);
    // The slow rule is the engine's; the menu item only holds and asks for its threshold.
    slowAbove_ = std::make_unique<SlowAbove>(
        *ui_->mnuSlowAbove, *this, [this](int ms) { hostTracker_->states().setSlowAboveMs(ms); });
    wireHistory();
    addresses_ = std::make_unique<AddressList>(
        AddressList::Controls{*ui_->txtIPAddress, *ui_->lstIPList, *ui_->cmdAdd, *ui_->cmdRemove,
                              *ui_->cmdClear, *ui_->cmdStartPing, *ui_->cmdStopPing});
    settings_ = std::make_unique<Settings>(*ui_, *this, state_, platform_.store, *controls_, *tips_,
                                           platform_.messages);
    schedule_ = std::make_unique<Schedule>(*ui_->mnuUnattended, *this, state_, platform_.store,
                                           *settings_, *controls_, platform_.messages);
    about_ = std::make_unique<About>(*this, state_, *settings_, *tips_, platform_.launcher,
                                     platform_.messages);

    connect(ui_->cmdExit, &QPushButton::clicked, this, &frmEchoWarden::cmdExit_Click);
    connect(ui_->mnuExit, &QAction::triggered, this, &frmEchoWarden::mnuExit_Click);
}

frmEchoWarden::~frmEchoWarden() = default;

void frmEchoWarden::wireHistory() {
    history_ = std::make_unique<HistoryStore>(platform_.clock, HistoryStore::defaultPath());
    HistoryStore& history = *history_;
    connect(pass_.get(), &PingPass::attemptReported, &history, [&history](const Attempt& a) {
        history.add(a.address, a.endedAt, a.reply, a.roundTrip);
    });
    connect(pass_.get(), &PingPass::passEnded, &history, &HistoryStore::passEnded);
    connect(monitor_.get(), &Monitor::monitoringStarted, &history,
            &HistoryStore::monitoringStarted);
    // A pass cut short by Stop keeps the attempts it made, and nothing waits past Stop.
    connect(monitor_.get(), &Monitor::monitoringStopped, &history, [&history] {
        history.passEnded();
        history.handOver();
    });
    connect(ui_->mnuKeepHistory, &QAction::toggled, &history, &HistoryStore::setEnabled);
    connect(&history, &HistoryStore::trouble, this, [this](const QString& text) {
        platform_.messages.show(this, text, tr("History"), MsgIcon::Warning, MsgButtons::Ok);
    });

    historyWindows_ = std::make_unique<HistoryWindows>(history, platform_.clock, *this);
    QListWidget& list = *ui_->lstIPList;
    const auto showHistory = [this, &list] {
        if (const QListWidgetItem* item = list.currentItem())
            historyWindows_->show(item->text());
    };
    connect(&list, &QListWidget::itemDoubleClicked, this, showHistory);
    QMenu& menu = *hosts_->listMenu();
    QAction* show = menu.addAction(tr("Show &History..."), this, showHistory);
    show->setObjectName(QStringLiteral("mnuShowHistory"));
    connect(&menu, &QMenu::aboutToShow, show,
            [show, &list] { show->setEnabled(list.currentItem() != nullptr); });
}

void frmEchoWarden::Form_Load() {
    controls_->showPanel(true);
    state_.askOverwrite = AskOverwrite::Dont;
    state_.stateFlag = StateFlag::Dont;
    settings_->loadAddressList();
    settings_->ReadSettings();
    serveFigures_->apply();
}

void frmEchoWarden::cmdExit_Click() {
    if (ui_->mnuSSave->isChecked())
        settings_->cmdSave_Click();
    endProgram();
}

void frmEchoWarden::mnuExit_Click() {
    cmdExit_Click();
}

void frmEchoWarden::startUnwatched() {
    if (!ui_->cmdStartPing->isEnabled())
        return;
    log_->appendUnasked();
    ui_->cmdStartPing->click();
}

void frmEchoWarden::endProgram() {
    // Ends at once: no timer tick, no pass and no further handler runs after this. A pass that
    // waits in a message box is abandoned; the windows are hidden rather than closed so that
    // no window's close handling runs either.
    ending_ = true;
    monitor_->shutdown();
    tips_->unload();
    if (endProgram_)
        return endProgram_();
    for (QWidget* w : QApplication::topLevelWidgets())
        w->hide();
    QApplication::exit(0);
}

void frmEchoWarden::closeEvent(QCloseEvent* event) {
    // The close box ends the program like Exit, but saves nothing.
    event->accept();
    if (!ending_)
        endProgram();
}

} // namespace ew
