#include "widgets/CharAdvances.h"

#include <QFontMetrics>
#include <QWidget>

#include <algorithm>

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

std::optional<std::pair<int, int>> CharAdvances::changed(QStringView was, QStringView now) {
    const auto plain = [](QStringView s) {
        return std::all_of(s.begin(), s.end(), [](QChar c) {
            return c.unicode() < 256 || (c.unicode() >= 0x2190 && c.unicode() <= 0x21FF);
        });
    };
    if (!plain(was) || !plain(now))
        return std::nullopt;
    qsizetype same = 0;
    while (same < was.size() && same < now.size() && was[same] == now[same])
        ++same;
    qsizetype tail = 0;
    while (tail < was.size() - same && tail < now.size() - same &&
           was[was.size() - 1 - tail] == now[now.size() - 1 - tail])
        ++tail;
    const int wasEnd = width(was.first(was.size() - tail));
    const int nowEnd = width(now.first(now.size() - tail));
    const int to = wasEnd == nowEnd ? nowEnd : std::max(width(was), width(now));
    if (slack_ < 0)
        slack_ = widget_->fontMetrics().averageCharWidth();
    const int slack = slack_;
    return std::pair{width(now.first(same)) - slack, to + slack};
}

void CharAdvances::reset() {
    latin1_.fill(-1);
    other_.clear();
    slack_ = -1;
}

} // namespace ew
