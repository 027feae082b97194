#include "tooltips/ToolTips.h"

#include "platform/WindowProbe.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <algorithm>
#include <array>

namespace ew {

namespace {

// Polling pace: once a second while the pointer rests, quickly right after it moved to another
// window so the next change is seen at once.
constexpr int kRestingIntervalMs = 1000;
constexpr int kFollowIntervalMs = 5;
// Timer2's interval at design: a window loaded on its own first polls after this.
constexpr int kDesignIntervalMs = 3000;
// The pop-up sits below and a little left of the pointer.
constexpr int kBelowPointerPx = 18;
constexpr int kLeftOfPointerPx = 4;

struct HelpRow {
    const char* control;
    const char* text; // lines joined by a carriage return alone
};

// First match wins; cmdSettings and cmdSave are listed with no text so that resting on them
// hides a tip that was showing.
constexpr std::array<HelpRow, 17> kHelpTable{{
    {"cmdExit", "Exit the application. If you enabled \r"
                "SAVE SETTINGS ON EXIT in File menu,\r"
                "pushing this button will also save all\r"
                "the changes you've made to the settings"},
    {"cmdOpenLog", "Opens the log file if one exists\r"
                   "Grayed out if ping is in progress "},
    {"cmdStopPing", "Stops ping and makes OPEN LOG\r"
                    "button available"},
    {"cmdStartPing", "Starts ping. If you have logging\r"
                     "enabled, this command will also\r"
                     "validate the path to the log file. If you\r"
                     "activated UNATTENDED mode on the\r"
                     "File menu, ping will be suspended\r"
                     "for the time period specified"},
    {"cmdRemove", "Remove highlighted item\r"
                  "from the list of IP addresses"},
    {"cmdClear", "Clear the IP address list"},
    {"cmdSettings", ""},
    {"cmdSave", ""},
    {"txtIPAddress", "Type new address or computer\r"
                     "name to add to IP address list"},
    {"cmdAdd", "Add IP address to the\r"
               "IP address list"},
    {"lstIPList", "IP address list"},
    {"txtLog", "Path to the logfile. If you\r"
               "type just the filename here,\r"
               "the logfile will be saved in\r"
               "the application directory"},
    {"cmdSetLog", "Push this button if you made\r"
                  "changes to the logfile path"},
    {"txtInterval", "Specify interval between pings\r"
                    "in minutes or in seconds"},
    {"txtTimeout", "Specifies retry period in case\r"
                   "the IP address is not responding"},
    {"txtNumBytes", "Number of bytes to send\r"
                    "to the remote machine(s)"},
    {"txtAttempts", "Number of times to ping every\r"
                    "machine in the IP address list"},
}};

void setBackground(QWidget& w, const QColor& colour) {
    QPalette p = w.palette();
    p.setColor(QPalette::Window, colour);
    w.setPalette(p);
    w.setAutoFillBackground(true);
}

} // namespace

frmToolTips::frmToolTips(QWidget* parent)
    : QFrame(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      Label1(new QLabel(this)), Timer2(new QTimer(this)) {
    setObjectName(QStringLiteral("frmToolTips"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFrameStyle(QFrame::Box | QFrame::Plain); // a one-pixel border
    setBackground(*this, QColor(255, 255, 128));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(11.25);
    Label1->setFont(font);
    setBackground(*Label1, QColor(128, 255, 128));
    Label1->move(2, 1); // inside the border, a pixel in from its left
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(kDesignIntervalMs);
}

ToolTips::ToolTips(QLineEdit& txtIPAddress, QWidget& mainWindow, WindowProbe& windows)
    : txtIPAddress_(txtIPAddress), main_(mainWindow), windows_(windows) {
    for (const HelpRow& row : kHelpTable)
        listed_.emplace_back(main_.findChild<QWidget*>(QString::fromLatin1(row.control)));

    // Moving over the address box switches the polling back on (after Start or the About box
    // switched it off); a disabled box gets no mouse events, so it does so only while enabled.
    // The filter also sees every menu of the program the moment it opens, before it is drawn.
    txtIPAddress_.setMouseTracking(true);
    QApplication::instance()->installEventFilter(this);
}

ToolTips::~ToolTips() {
    unload();
}

void ToolTips::load() {
    if (popup_)
        return;
    popup_ = new frmToolTips(&main_);
    lastUnderPointer_ = nullptr;
    resting_ = false;
    connect(popup_->Timer2, &QTimer::timeout, this, &ToolTips::Timer2_Timer);
    // Enabled at design: a window loaded on its own polls after its design interval.
    popup_->Timer2->start();
}

void ToolTips::unload() {
    // Deleting the window takes its timer and LastTipWindow with it.
    delete popup_.data();
}

void ToolTips::setTimerEnabled(bool enabled) {
    load();
    resting_ = false;
    if (!enabled)
        popup_->Timer2->stop();
    else if (!popup_->Timer2->isActive())
        // Switching on a running timer must not restart its count, or a pointer moving over
        // the address box would keep the poll from ever coming.
        popup_->Timer2->start();
}

void ToolTips::setTimerInterval(int ms) {
    load();
    // Like the design's timers, a new interval restarts the count of a running timer.
    popup_->Timer2->setInterval(ms);
}

QWidget* ToolTips::windowUnder(QWidget* widget) const {
    for (QWidget* w = widget; w; w = w->parentWidget())
        if (w->isWindow() || std::find(listed_.cbegin(), listed_.cend(), w) != listed_.cend())
            return w;
    return nullptr;
}

void ToolTips::hideForMenu() {
    if (!popup_)
        return;
    popup_->hide();
    lastUnderPointer_ = nullptr;
    popup_->LastTipWindow = nullptr;
}

void ToolTips::Timer2_Timer() {
    if (!popup_)
        return;
    if (qobject_cast<QMenu*>(QApplication::activePopupWidget()))
        return hideForMenu();
    if (windows_.activeWindow() != &main_) {
        popup_->Timer2->stop();
        resting_ = true;
        return;
    }
    // A resting pointer is the common case, once a second for as long as the window is open:
    // the same widget as last time ends the poll before anything is looked up or changed.
    QWidget* const raw = windows_.widgetAt(windows_.cursorPos());
    if (raw && raw == lastUnderPointer_)
        return;
    lastUnderPointer_ = raw;
    QWidget* const under = windowUnder(raw);
    if (under == popup_->LastTipWindow)
        return;
    popup_->LastTipWindow = under;
    setTimerInterval(kFollowIntervalMs);

    if (const auto row = std::find(listed_.cbegin(), listed_.cend(), under);
        under && row != listed_.cend())
        return ShowTip(QString::fromLatin1(kHelpTable[row - listed_.cbegin()].text));
    popup_->hide();
    if (under != popup_)
        setTimerInterval(kRestingIntervalMs);
}

void ToolTips::ShowTip(const QString& text) {
    load();
    popup_->hide();
    if (text.isEmpty())
        return;
    // The help texts break their lines with a carriage return alone; the label breaks on line
    // feeds only. The window sits around the label.
    popup_->Label1->setText(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    popup_->Label1->adjustSize();
    popup_->resize(popup_->Label1->size() + QSize(4, 2));

    const QPoint pointer = windows_.cursorPos();
    const QSize size = popup_->size();
    QScreen* screen = QGuiApplication::screenAt(pointer);
    if (!screen)
        screen = main_.screen();
    // Just past the screen's right and bottom edges.
    const QPoint end = screen->geometry().bottomRight() + QPoint(1, 1);

    // The edge tests use the pointer itself, not the shifted place: near the bottom the
    // pop-up may reach up to 18 pixels past the edge.
    const int top = pointer.y() + size.height() > end.y() ? end.y() - size.height()
                                                          : pointer.y() + kBelowPointerPx;
    const int left = pointer.x() + size.width() > end.x() ? end.x() - size.width()
                                                          : pointer.x() - kLeftOfPointerPx;
    popup_->move(left, top);
    popup_->raise();
    popup_->show();

    setTimerInterval(kRestingIntervalMs);
    setTimerEnabled(true);
}

bool ToolTips::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &main_ && event->type() == QEvent::WindowActivate && popup_ && resting_) {
        resting_ = false;
        popup_->Timer2->start();
    }
    if (watched == &txtIPAddress_ && event->type() == QEvent::MouseMove &&
        txtIPAddress_.isEnabled())
        setTimerEnabled(true);
    if (event->type() == QEvent::Show && qobject_cast<QMenu*>(watched))
        hideForMenu();
    return QObject::eventFilter(watched, event);
}

QString ToolTips::helpText(const QString& controlName) {
    const qsizetype row = helpControls().indexOf(controlName);
    return row < 0 ? QString() : QString::fromLatin1(kHelpTable[row].text);
}

QStringList ToolTips::helpControls() {
    QStringList names;
    for (const HelpRow& row : kHelpTable)
        names << QString::fromLatin1(row.control);
    return names;
}

} // namespace ew
