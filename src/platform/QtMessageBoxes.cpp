#include "platform/MessageBoxes.h"

#include <QMessageBox>

namespace ew {

MsgAnswer QtMessageBoxes::show(QWidget* parent, const QString& text, const QString& title,
                               MsgIcon icon, MsgButtons buttons) {
    QMessageBox box(parent);
    box.setWindowTitle(title);
    // Texts join their lines with a carriage return alone; Qt's plain-text label breaks only
    // on line feeds.
    box.setText(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')));
    box.setTextFormat(Qt::PlainText);
    constexpr QMessageBox::Icon Icons[] = {QMessageBox::NoIcon, QMessageBox::Critical,
                                           QMessageBox::Information, QMessageBox::Question,
                                           QMessageBox::Warning};
    box.setIcon(Icons[static_cast<int>(icon)]);
    const bool yesNo = buttons == MsgButtons::YesNo;
    box.setStandardButtons(yesNo ? QMessageBox::Yes | QMessageBox::No
                                 : QMessageBox::StandardButtons(QMessageBox::Ok));
    // Yes is the answer that destroys (the log's history): Enter must never give it.
    if (yesNo)
        box.setDefaultButton(QMessageBox::No);
    const int r = box.exec();
    return !yesNo ? MsgAnswer::Ok : r == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

} // namespace ew
