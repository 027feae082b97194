#include "tooltips/frmToolTips.h"

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QTimer>

namespace ew {

namespace {

constexpr int kBorderPx = 1;
// The label's place inside the border, and the room the window leaves around it.
constexpr int kLabelLeftPx = 1;
constexpr int kLabelTopPx = 0;
constexpr int kExtraWidthPx = 4;
constexpr int kExtraHeightPx = 2;

const QColor kDesignBackground(255, 255, 192);
const QColor kBackground(255, 255, 128);
const QColor kLabelBackground(128, 255, 128);
const QString kFontFamily = QStringLiteral("Arial");
constexpr double kFontPointSize = 11.25;

void setBackground(QWidget& w, const QColor& colour) {
    QPalette p = w.palette();
    p.setColor(QPalette::Window, colour);
    w.setPalette(p);
    w.setAutoFillBackground(true);
}

} // namespace

frmToolTips::frmToolTips(QWidget* parent)
    : QFrame(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus) {
    setObjectName(QStringLiteral("frmToolTips"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(kBorderPx);
    setBackground(*this, kDesignBackground);

    client_ = new QWidget(this);
    client_->move(kBorderPx, kBorderPx);
    Label1 = new QLabel(client_);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    QFont font(kFontFamily);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(kFontPointSize);
    Label1->setFont(font);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(DesignIntervalMs);
}

void frmToolTips::Form_Load() {
    setWindowTitle(QString());
    setBackground(*this, kBackground);
    setBackground(*Label1, kLabelBackground);
    Label1->move(kLabelLeftPx, kLabelTopPx);
}

void frmToolTips::setTipText(const QString& text) {
    text_ = text;
    // The help texts break their lines with a carriage return alone; the label breaks on
    // line feeds only.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    Label1->setText(shown);
    Label1->adjustSize();
    const QSize label = Label1->size();
    client_->resize(label.width() + kExtraWidthPx - 2 * kBorderPx,
                    label.height() + kExtraHeightPx - 2 * kBorderPx);
    resize(label.width() + kExtraWidthPx, label.height() + kExtraHeightPx);
}

} // namespace ew
