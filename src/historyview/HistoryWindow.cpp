#include "historyview/HistoryWindow.h"

#include "history/HistoryCsv.h"
#include "history/HistoryDb.h"
#include "history/HistoryStore.h"
#include "historyview/HistoryChart.h"
#include "platform/Clock.h"

#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace ew {

namespace {

const QString TitleText = QStringLiteral("History of %1");
const QString CsvFilter = QStringLiteral("CSV files (*.csv);;All files (*)");
constexpr QSize FirstSize(720, 420);
constexpr int RedrawMs = 1000;

} // namespace

const std::vector<HistoryWindow::Range>& HistoryWindow::ranges() {
    static const std::vector<Range> all{
        {"10 minutes", 10 * MinuteMs, Resolution::Attempts},
        {"1 hour", HourMs, Resolution::Attempts},
        {"24 hours", DayMs, Resolution::Minutes},
        {"7 days", 7 * DayMs, Resolution::Minutes},
        {"90 days", 90 * DayMs, Resolution::Hours},
    };
    return all;
}

HistoryWindow::HistoryWindow(QString key, HistoryStore& store, Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window), key_(std::move(key)), store_(store), clock_(clock),
      db_(std::make_unique<HistoryDb>(store.path())), range_(new QComboBox(this)),
      chart_(new HistoryChart(this)) {
    setObjectName(QStringLiteral("frmHistory"));
    setWindowTitle(TitleText.arg(key_));
    setAttribute(Qt::WA_DeleteOnClose);
    range_->setObjectName(QStringLiteral("cboRange"));
    for (const Range& r : ranges())
        range_->addItem(tr(r.name));
    auto* exportOne = new QPushButton(tr("&Export History..."), this);
    exportOne->setObjectName(QStringLiteral("cmdExportHistory"));
    auto* exportAll = new QPushButton(tr("Export &All History..."), this);
    exportAll->setObjectName(QStringLiteral("cmdExportAllHistory"));
    auto* top = new QHBoxLayout;
    top->addWidget(range_);
    top->addStretch();
    top->addWidget(exportOne);
    top->addWidget(exportAll);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(chart_, 1);
    resize(FirstSize);

    connect(range_, &QComboBox::currentIndexChanged, this, &HistoryWindow::redraw);
    connect(exportOne, &QPushButton::clicked, this, [this] { askExport(false); });
    connect(exportAll, &QPushButton::clicked, this, [this] { askExport(true); });
    connect(&store_, &HistoryStore::written, this, &HistoryWindow::written);
    redrawLater_.setSingleShot(true);
    redrawLater_.setInterval(RedrawMs);
    connect(&redrawLater_, &QTimer::timeout, this, &HistoryWindow::redraw);
    redraw();
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::setRange(int index) {
    range_->setCurrentIndex(index);
}

void HistoryWindow::written(const QStringList& keys) {
    if (keys.contains(key_) && !redrawLater_.isActive())
        redrawLater_.start();
}

void HistoryWindow::redraw() {
    // Opened when first needed: the file may not be there before the first pass is written.
    if (!db_->isOpen() && db_->openFile().trouble != HistoryDb::Trouble::None)
        db_->closeFile();
    const Range& r = ranges().at(static_cast<std::size_t>(std::max(range_->currentIndex(), 0)));
    HistoryPicture p;
    p.resolution = r.resolution;
    p.toMs = clock_.now().toMSecsSinceEpoch();
    p.fromMs = p.toMs - r.spanMs;
    if (db_->isOpen()) {
        const std::vector<Row> rows = db_->rows(key_, r.resolution, p.fromMs, p.toMs);
        p.stretches = stretches(rows, db_->runs(p.fromMs, p.toMs), r.resolution);
        p.down = downSpans(rows, r.resolution);
    }
    chart_->draw(p);
}

bool HistoryWindow::exportTo(const QString& path, bool allEntries) {
    const Range& r = ranges().at(static_cast<std::size_t>(std::max(range_->currentIndex(), 0)));
    const qint64 to = clock_.now().toMSecsSinceEpoch();
    QString csv = historyCsvHeader();
    if (db_->isOpen())
        for (const QString& key : allEntries ? db_->keys() : QStringList{key_})
            csv += historyCsvRows(key, db_->rows(key, r.resolution, to - r.spanMs, to));
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(csv.toUtf8()) >= 0 && file.commit();
}

void HistoryWindow::askExport(bool allEntries) {
    const QString path = QFileDialog::getSaveFileName(
        this, allEntries ? tr("Export All History") : tr("Export History"),
        allEntries ? QStringLiteral("history.csv") : key_ + QStringLiteral(".csv"), CsvFilter);
    if (!path.isEmpty())
        exportTo(path, allEntries);
}

HistoryWindows::HistoryWindows(HistoryStore& store, Clock& clock, QWidget& owner)
    : store_(store), clock_(clock), owner_(owner) {}

HistoryWindows::~HistoryWindows() {
    for (const auto& w : std::as_const(open_))
        delete w.data();
}

HistoryWindow& HistoryWindows::show(const QString& key) {
    QPointer<HistoryWindow>& w = open_[key];
    if (!w)
        // Without a parent: each is a window of its own on the taskbar, beside the main one.
        w = new HistoryWindow(key, store_, clock_);
    store_.handOver(); // what waits for the writer shows at once, not when it is time
    w->show();
    w->raise();
    w->activateWindow();
    return *w;
}

} // namespace ew
