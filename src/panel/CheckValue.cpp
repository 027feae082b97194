#include "panel/CheckValue.h"

#include <QCheckBox>
#include <QRadioButton>

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

void setOptionChecked(QRadioButton& option, bool checked) {
    if (checked || !option.isChecked()) {
        option.setChecked(checked);
        return;
    }
    const bool exclusive = option.autoExclusive();
    option.setAutoExclusive(false);
    option.setChecked(false);
    option.setAutoExclusive(exclusive);
}

} // namespace ew
