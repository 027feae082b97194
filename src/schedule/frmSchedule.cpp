#include "schedule/frmSchedule.h"

#include "core/ProgramState.h"
#include "panel/CheckValue.h"
#include "platform/MessageBoxes.h"
#include "platform/SettingsStore.h"
#include "schedule/Hours.h"
#include "settings/Settings.h"
#include "settings/SettingsCodec.h"
#include "settings/SettingsKeys.h"
#include "ui_frmSchedule.h"

#include <QKeyEvent>
#include <QScreen>
#include <QShowEvent>
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

} // namespace

void frmSchedule::showHour(QLineEdit& box, QCheckBox& pm, const ShownHour& shown) {
    // A stored hour is shown as stored: the wrap rule would turn a stored 25 (shown as 13 PM)
    // into 1 PM, and the next O.K. would quietly store 13.
    loading_ = true;
    box.setText(shown.text);
    loading_ = false;
    setCheckValue(pm, shown.pm ? 1 : 0);
}

frmSchedule::frmSchedule(ProgramState& state, SettingsStore& store, Settings& settings,
                         MessageBoxes& messages, QWidget& mainWindow, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ui_(std::make_unique<Ui::frmSchedule>()), state_(state), store_(store), settings_(settings),
      messages_(messages), main_(mainWindow) {
    ui_->setupUi(this);
    setFixedSize(size());
    ui_->UpDown1->setBuddy(ui_->txtFrom);
    ui_->UpDown1->setRange(0, kSpinMax);
    ui_->UpDown2->setBuddy(ui_->txtTo);
    ui_->UpDown2->setRange(0, kSpinMax);

    // The wrap rule of an hour box reacts to every change, whoever made it.
    for (QLineEdit* box : {ui_->txtFrom, ui_->txtTo})
        connect(box, &QLineEdit::textChanged, this, [this, box] {
            if (!loading_)
                wrapHour(*box);
        });
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
    centreOnScreen();
    state_.stateFlag = StateFlag::Dont;
    showHour(*ui_->txtTo, *ui_->chkPMTo,
             shownHour(store_.get(keys::App, keys::Section, keys::UnattendedTo)));
    showHour(*ui_->txtFrom, *ui_->chkPMFrom,
             shownHour(store_.get(keys::App, keys::Section, keys::UnattendedFrom)));
    setCheckValue(*ui_->chkUnattended, state_.unattendedState == boolText(true) ? 1 : 0);
    state_.stateFlag = StateFlag::Yes;
}

void frmSchedule::centreOnScreen() {
    // The window's frame counts: until the dialog has one of its own, the main window's shows
    // what the window manager adds.
    QSize outer = frameGeometry().size();
    if (outer == size()) {
        const QRect mainFrame = main_.frameGeometry();
        const QRect mainClient = main_.geometry();
        outer += mainFrame.size() - mainClient.size();
    }
    const QRect screenArea = screen()->geometry();
    move(screenArea.x() + (screenArea.width() - outer.width()) / 2,
         screenArea.y() + (screenArea.height() - outer.height()) / 2);
}

void frmSchedule::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Now that the frame is known the place can be exact.
    if (!event->spontaneous())
        centreOnScreen();
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
    if (enabled) {
        // The check above leaves whole hours of at most 12, so both fit.
        state_.unattendedToHour = static_cast<std::int16_t>(to.hour.value_or(0));
        state_.unattendedFromHour = static_cast<std::int16_t>(from.hour.value_or(0));
    }

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
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace ew
