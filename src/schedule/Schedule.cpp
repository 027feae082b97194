#include "schedule/Schedule.h"

#include "core/ProgramState.h"
#include "panel/CheckValue.h"
#include "panel/ControlStates.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsStore.h"
#include "platform/WindowProbe.h"
#include "settings/Settings.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsKeys.h"
#include "ui_frmSchedule.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>
#include <QToolButton>
#include <algorithm>
#include <utility>

namespace ew {

namespace {

const QString kAppTitle = QStringLiteral("EchoWarden");
const QString kInvalidTime = QStringLiteral("Please enter valid time");
const QString kRangeNotAfter = QStringLiteral("Please enter a range that ends after it starts on "
                                              "the same day: the range does not wrap past "
                                              "midnight.");
const QString kNotSavedTitle = QStringLiteral("Error saving settings");

// The spinners step within 0 to 13; the boxes' wrap rule turns 13 into 1 and 0 into 12, so
// stepping cycles through 1 to 12.
constexpr int kSpinMax = 13;

void wrapHour(QLineEdit& box) {
    if (parseInt16(box.text()) == kSpinMax)
        box.setText(QStringLiteral("1"));
    if (parseInt16(box.text()) == 0)
        box.setText(QStringLiteral("12"));
}

// An enabled mode needs a whole hour of at most 12 in each box.
bool validShownHour(const QString& text) {
    const auto hour = parseInt16(text);
    return hour && *hour <= 12;
}

// Hours as the dialog shows them (1 to 12 and a PM box) and as the store keeps them (the 24-hour
// clock, as decimal text). An hour is a whole number in 16 bits (parseInt16).
constexpr int kNoon = 12;
constexpr int kMidnight = 0;

struct ShownHour {
    QString text;
    bool pm = false;
};

// What the dialog shows for a stored hour: missing or empty counts as midnight; 0 shows as 12
// AM, 12 as 12 PM, an hour above 12 as that hour less 12 PM, and anything else as it was stored.
ShownHour shownHour(const std::optional<QString>& stored) {
    const QString text = stored.value_or(QString());
    const std::optional<std::int16_t> hour =
        text.isEmpty() ? std::optional<std::int16_t>(kMidnight) : parseInt16(text);
    if (hour && (*hour == kMidnight || *hour == kNoon))
        return {QString::number(kNoon), *hour == kNoon};
    if (hour && *hour > kNoon)
        return {QString::number(*hour - kNoon), true};
    return {text, false};
}

struct StoredHour {
    QString text;            // a computed hour as that number, otherwise the box's text as it is
    std::optional<int> hour; // when the box held a whole number
};

// The hour to store for a shown hour: with PM, 12 stays 12 and any other hour gains 12;
// without, 12 becomes 0 and any other hour stays as shown.
StoredHour storedHour(const QString& shown, bool pm) {
    const std::optional<std::int16_t> hour = parseInt16(shown);
    if (!hour)
        return {shown, std::nullopt};
    if (pm) {
        const int h = *hour == kNoon ? kNoon : *hour + kNoon;
        return {QString::number(h), h};
    }
    if (*hour == kNoon)
        return {QString::number(kMidnight), kMidnight};
    return {shown, *hour};
}

} // namespace

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    up_->setObjectName(QStringLiteral("up"));
    down_->setObjectName(QStringLiteral("down"));
    for (QToolButton* b : {up_, down_}) {
        b->setFocusPolicy(Qt::NoFocus);
        // Holding the button down keeps stepping, as a spinner does.
        b->setAutoRepeat(true);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    setFocusPolicy(Qt::StrongFocus);
    connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void UpDown::stepBy(int steps) {
    int from = value_;
    if (buddy_)
        if (const auto typed = parseInt16(buddy_->text()))
            from = std::clamp<int>(*typed, min_, max_);
    const int to = std::clamp(from + steps, min_, max_);
    value_ = to;
    if (to != from && buddy_)
        buddy_->setText(QString::number(to));
}

void UpDown::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Up && event->key() != Qt::Key_Down)
        return QWidget::keyPressEvent(event);
    stepBy(event->key() == Qt::Key_Up ? 1 : -1);
    event->accept();
}

void UpDown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
}

void frmSchedule::showHour(QLineEdit& box, QCheckBox& pm, const std::optional<QString>& stored) {
    const ShownHour shown = shownHour(stored);
    // A stored hour is shown as stored: the wrap rule would turn a stored 25 (shown as 13 PM)
    // into 1 PM, and the next O.K. would quietly store 13.
    loading_ = true;
    box.setText(shown.text);
    loading_ = false;
    setCheckValue(pm, shown.pm ? 1 : 0);
}

frmSchedule::frmSchedule(ProgramState& state, SettingsStore& store, Settings& settings,
                         MessageBoxes& messages, QWidget& mainWindow, QWidget* parent)
    : QDialog(parent, FixedDialog), ui_(std::make_unique<Ui::frmSchedule>()), state_(state),
      store_(store), settings_(settings), messages_(messages), main_(mainWindow) {
    ui_->setupUi(this);
    setFixedSize(size());
    for (auto [spinner, box] :
         {std::pair(ui_->UpDown1, ui_->txtFrom), {ui_->UpDown2, ui_->txtTo}}) {
        spinner->setBuddy(box);
        spinner->setRange(0, kSpinMax);
        // The wrap rule of an hour box reacts to every change, whoever made it.
        connect(box, &QLineEdit::textChanged, this, [this, box = box] {
            if (!loading_)
                wrapHour(*box);
        });
    }
    for (auto [label, box] : {std::pair(ui_->Label1, ui_->chkPMFrom),
                              {ui_->Label2, ui_->chkPMTo},
                              {ui_->lblUnattended, ui_->chkUnattended}})
        connect(label, &ClickLabel::clicked, this, [this, box = box] {
            if (state_.stateFlag != StateFlag::Dont)
                toggleCheck(*box);
        });
    connect(ui_->cmdOK, &QPushButton::clicked, this, &frmSchedule::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, [this] {
        reject();
        showMainWindow();
    });
}

frmSchedule::~frmSchedule() = default;

void frmSchedule::Form_Load() {
    centreFrame(*this, main_, screen()->geometry());
    state_.stateFlag = StateFlag::Dont;
    showHour(*ui_->txtTo, *ui_->chkPMTo, store_.get(keys::App, keys::Section, keys::UnattendedTo));
    showHour(*ui_->txtFrom, *ui_->chkPMFrom,
             store_.get(keys::App, keys::Section, keys::UnattendedFrom));
    setCheckValue(*ui_->chkUnattended, state_.unattendedState == boolText(true) ? 1 : 0);
    state_.stateFlag = StateFlag::Yes;
}

void frmSchedule::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Now that the frame is known the place can be exact.
    if (!event->spontaneous())
        centreFrame(*this, main_, screen()->geometry());
}

void frmSchedule::cmdOK_Click() {
    const bool enabled = isChecked(*ui_->chkUnattended);
    // Text that is no whole number fails the check like an empty box; with the mode disabled
    // the hours are not checked and such text is stored as typed.
    if (enabled && (!validShownHour(ui_->txtFrom->text()) || !validShownHour(ui_->txtTo->text()))) {
        messages_.show(this, kInvalidTime, kAppTitle, MsgIcon::None, MsgButtons::Ok);
        return;
    }
    const StoredHour from = storedHour(ui_->txtFrom->text(), isChecked(*ui_->chkPMFrom));
    const StoredHour to = storedHour(ui_->txtTo->text(), isChecked(*ui_->chkPMTo));
    // The monitor excludes the hours from From up to To within one day; a range that does not
    // end after it starts would exclude no hour at all, and the operator would never know.
    if (enabled && to.hour.value_or(0) <= from.hour.value_or(0)) {
        messages_.show(this, kRangeNotAfter, kAppTitle, MsgIcon::None, MsgButtons::Ok);
        return;
    }
    state_.unattendedState = boolText(enabled);
    // The hours reach the monitor as ReadSettings reads them back below.
    store_.save(keys::App, keys::Section, keys::Unattended, state_.unattendedState);
    store_.save(keys::App, keys::Section, keys::UnattendedTo, to.text);
    store_.save(keys::App, keys::Section, keys::UnattendedFrom, from.text);
    QString reason;
    if (!store_.flush(keys::App, &reason)) {
        // The values stay gathered in the store for this run and for the next save.
        messages_.show(this,
                       QStringLiteral("The schedule could not be saved to %1:\r%2.")
                           .arg(store_.location(keys::App), reason),
                       kNotSavedTitle, MsgIcon::Critical, MsgButtons::Ok);
    }

    accept();
    settings_.ReadSettings();
    showMainWindow();
}

void frmSchedule::showMainWindow() {
    main_.show();
    main_.raise();
    main_.activateWindow();
}

void frmSchedule::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter)
        return event->accept();
    QDialog::keyPressEvent(event);
}

Schedule::Schedule(QAction& mnuUnattended, QWidget& window, ProgramState& state,
                   SettingsStore& store, Settings& settings, ControlStates& controls,
                   MessageBoxes& messages)
    : mnuUnattended_(mnuUnattended), window_(window), state_(state), store_(store),
      settings_(settings), controls_(controls), messages_(messages) {
    connect(&mnuUnattended_, &QAction::triggered, this, [this] {
        // The action has already flipped its check mark; the mark only ever shows the stored
        // mode, so put it back before the handler reads it.
        mnuUnattended_.setChecked(!mnuUnattended_.isChecked());
        mnuUnattended_Click();
    });
}

void Schedule::mnuUnattended_Click() {
    if (dialog_) {
        dialog_->raise();
        dialog_->activateWindow();
        return;
    }
    if (state_.stateFlag != StateFlag::Dont)
        state_.unattendedState = boolText(mnuUnattended_.isChecked());
    controls_.UpdateRestoreMenu();
    settings_.cmdSave_Click();

    auto* dialog = new frmSchedule(state_, store_, settings_, messages_, window_, &window_);
    dialog_ = dialog;
    dialog->Form_Load();
    dialog->show();
    Q_EMIT dialogOpened(dialog);
    // Whoever watched the opening may already have closed the dialog.
    if (dialog_ && dialog->isVisible())
        dialog->exec();
    delete dialog_.data();
}

} // namespace ew
