#include "hosts/SlowAbove.h"

#include <QAction>

namespace ew {

namespace {

const QString OffText = QStringLiteral("Slow above ... ms");
const QString OnText = QStringLiteral("Slow above %1 ms...");
const QString BoxTitle = QStringLiteral("Slow above");
const QString BoxLabel =
    QStringLiteral("Mark a host slow after 3 replies in a row above (ms, 0 for never):");
constexpr int MaxMs = 60000;

} // namespace

SlowAbove::SlowAbove(QAction& item, QWidget& window, std::function<void(int)> apply)
    : item_(item), window_(window), apply_(std::move(apply)) {
    connect(&item_, &QAction::triggered, this, &SlowAbove::mnuSlowAbove_Click);
    // setData raises changed, as does the text set here; the second time nothing differs.
    connect(&item_, &QAction::changed, this, &SlowAbove::shown);
    shown();
}

void SlowAbove::shown() {
    const int ms = item_.data().toInt();
    const QString text = ms > 0 ? OnText.arg(ms) : OffText;
    if (item_.text() != text)
        item_.setText(text);
    apply_(ms);
}

void SlowAbove::mnuSlowAbove_Click() {
    if (box_)
        return box_->raise();
    // open() rather than exec(): the monitor goes on while the box is up.
    box_ = new QInputDialog(&window_);
    box_->setObjectName(QStringLiteral("frmSlowAbove"));
    box_->setAttribute(Qt::WA_DeleteOnClose);
    box_->setWindowTitle(BoxTitle);
    box_->setLabelText(BoxLabel);
    box_->setInputMode(QInputDialog::IntInput);
    box_->setIntRange(0, MaxMs);
    box_->setIntValue(item_.data().toInt());
    connect(box_, &QInputDialog::intValueSelected, this, [this](int ms) { item_.setData(ms); });
    box_->open();
}

} // namespace ew
