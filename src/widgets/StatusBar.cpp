#include "widgets/StatusBar.h"

#include "core/TimeText.h"
#include "platform/Clock.h"
#include "widgets/CharAdvances.h"
#include "widgets/GlyphLine.h"
#include "widgets/PaintPace.h"

#include <QFrame>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>

namespace ew {

// One sunken panel with a line of text. Unlike a QLabel it neither asks its parent for a new
// layout when the text changes nor repaints when the text stays the same.
class StatusPanel : public QFrame {
public:
    explicit StatusPanel(QWidget* parent) : QFrame(parent) {
        setFrameStyle(QFrame::Panel | QFrame::Sunken);
        // Opaque, so a repaint stops here instead of reaching the bar's background.
        setAutoFillBackground(true);
    }

    const QString& text() const { return text_; }
    // The pass writes the counts on every attempt; they show at the pace of the results.
    void setText(const QString& text) {
        if (text == text_)
            return;
        text_ = text;
        if (!asked_.isNull())
            askFor(changedArea()); // what differs from what shows may reach further now
        else if (pace_.mayShow())
            repaintText();
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        asked_ = QRect();
        // What shows is known only when all of it that changed is drawn again now.
        shownKnown_ = (QRegion(changedArea()) - event->region()).isEmpty();
        shown_ = text_;
        // The clock's tick repaints the text only; the frame around it is already drawn.
        if (!contentsRect().contains(event->rect()))
            QFrame::paintEvent(event);
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.setClipRect(area);
        // Drawn at a baseline rather than into a rectangle: one line needs no text layout.
        const QFontMetrics metrics = fontMetrics();
        glyphs_.draw(
            painter,
            QPointF(area.left() + Indent,
                    area.top() + (area.height() - metrics.height()) / 2 + metrics.ascent()),
            text_);
    }

    void changeEvent(QEvent* event) override {
        QFrame::changeEvent(event);
        if (event->type() == QEvent::FontChange) {
            advances_.reset();
            shownKnown_ = false;
        }
    }

private:
    void repaintText() { askFor(changedArea()); }

    void askFor(const QRect& area) {
        if (asked_.contains(area))
            return;
        asked_ |= area;
        update(area);
    }

    // Where the text differs from what shows: a count that goes up repaints its last digit or
    // two, not the whole panel, and sends the display that much less.
    QRect changedArea() {
        const QRect area = contentsRect();
        const auto span = shownKnown_ ? advances_.changed(shown_, text_) : std::nullopt;
        if (!span)
            return area;
        const int left = area.left() + Indent;
        return QRect(QPoint(left + span->first, area.top()),
                     QPoint(left + span->second, area.bottom())) &
               area;
    }

    static constexpr int Indent = 3;
    QString text_;
    QString shown_; // the text on screen, when shownKnown_
    bool shownKnown_ = false;
    QRect asked_; // what the repaint asked for covers; null when none is
    GlyphLine glyphs_;
    CharAdvances advances_{this};
    PaintPace pace_{this, [this] { repaintText(); }};
};

namespace {

// Design widths in pixels at 96 dpi. Together they are wider than the window, which would hide
// the date and time panels past its right edge; the panels share the bar's width in these
// proportions instead so all four stay readable.
constexpr std::array<int, StatusBar::PanelCount> PanelWidths = {176, 153, 129, 100};
// The clock looks again this long after the minute changes, so that it never looks just before.
constexpr int PastTheMinuteMs = 20;

const std::array<const char*, StatusBar::PanelCount> PanelTips = {
    "Number of the pings made since the program started", "Number of FAILED Pings", "Current date",
    "Current time"};

} // namespace

StatusBar::StatusBar(QWidget* parent) : QWidget(parent) {
    // In the short window the bar lies over the hidden settings panel: it must cover it.
    setAutoFillBackground(true);
    for (int i = 0; i < PanelCount; ++i) {
        auto* panel = new StatusPanel(this);
        panel->setObjectName(QStringLiteral("StatusBar1Panel%1").arg(i + 1));
        panel->setToolTip(QString::fromLatin1(PanelTips[i]));
        panels_[i] = panel;
    }
    panels_[0]->setText(QStringLiteral("Pings:"));
    panels_[1]->setText(QStringLiteral("Failed: 0"));
    tick_ = new QTimer(this);
    tick_->setSingleShot(true);
    // A coarse timer may come 5 % late, three seconds at a minute: the minute must change on time.
    tick_->setTimerType(Qt::PreciseTimer);
    connect(tick_, &QTimer::timeout, this, &StatusBar::refreshDateTime);
}

StatusPanel& StatusBar::at(int panel) const {
    return *panels_.at(panel - 1);
}

QString StatusBar::panelText(int panel) const {
    return at(panel).text();
}

void StatusBar::setPanelText(int panel, const QString& text) {
    at(panel).setText(text);
}

QString StatusBar::panelToolTip(int panel) const {
    return at(panel).toolTip();
}

QWidget* StatusBar::panel(int panel) const {
    return &at(panel);
}

void StatusBar::setClock(const Clock* clock) {
    clock_ = clock;
    refreshDateTime();
}

int StatusBar::msToNextRefresh() const {
    return tick_->isActive() ? tick_->remainingTime() : -1;
}

void StatusBar::refreshDateTime() {
    if (!clock_)
        return;
    const QDateTime now = clock_->now();
    // The date is formatted only when it changes: once a day rather than every second.
    if (now.date() != shownDate_) {
        shownDate_ = now.date();
        panels_[2]->setText(shortDateText(shownDate_));
    }
    panels_[3]->setText(shortTimeText(now.time()));
    // Timed afresh from the clock each minute: a clock set forward or back is followed within
    // a minute, and no lateness adds up.
    const QTime t = now.time();
    tick_->start(60000 - (t.second() * 1000 + t.msec()) + PastTheMinuteMs);
}

void StatusBar::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    int designTotal = 0;
    for (const int w : PanelWidths)
        designTotal += w;
    int x = 0;
    for (int i = 0; i < PanelCount; ++i) {
        const int w = i + 1 == PanelCount ? width() - x : PanelWidths[i] * width() / designTotal;
        panels_[i]->setGeometry(x, 2, w - 2, height() - 3);
        x += w;
    }
}

} // namespace ew
