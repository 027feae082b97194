#include "panel/CheckValue.h"

#include <QCheckBox>

namespace ew {

int checkValue(const QCheckBox& box) {
    switch (box.checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

void setCheckValue(QCheckBox& box, int value) {
    if (value == 2)
        box.setTristate(true);
    box.setCheckState(value == 1 ? Qt::Checked
                                 : (value == 2 ? Qt::PartiallyChecked : Qt::Unchecked));
}

} // namespace ew
