#include "panel/CheckValue.h"

#include <QCheckBox>
#include <QRadioButton>

namespace ew {

int checkValue(const QCheckBox& box) {
    // Qt counts greyed as 1 and checked as 2.
    constexpr int values[] = {0, 2, 1};
    return values[box.checkState()];
}

void setCheckValue(QCheckBox& box, int value) {
    if (value == 2)
        box.setTristate(true);
    box.setCheckState(value == 1 ? Qt::Checked
                                 : (value == 2 ? Qt::PartiallyChecked : Qt::Unchecked));
}

void setOptionChecked(QRadioButton& option, bool checked) {
    const bool exclusive = option.autoExclusive();
    option.setAutoExclusive(exclusive && checked);
    option.setChecked(checked);
    option.setAutoExclusive(exclusive);
}

} // namespace ew
