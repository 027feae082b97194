#include "widgets/CharAdvances.h"

#include <QFontMetrics>
#include <QWidget>

namespace ew {

int CharAdvances::of(char16_t code) {
    if (code < latin1_.size()) {
        int& advance = latin1_[code];
        if (advance < 0)
            advance = widget_->fontMetrics().horizontalAdvance(QChar(code));
        return advance;
    }
    const auto found = other_.constFind(code);
    if (found != other_.constEnd())
        return *found;
    const int advance = widget_->fontMetrics().horizontalAdvance(QChar(code));
    other_.insert(code, advance);
    return advance;
}

int CharAdvances::width(QStringView text) {
    int width = 0;
    for (const QChar c : text)
        width += of(c.unicode());
    return width;
}

void CharAdvances::reset() {
    latin1_.fill(-1);
    other_.clear();
}

} // namespace ew
