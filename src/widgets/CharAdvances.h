#pragma once

#include <QHash>
#include <QStringView>

#include <array>

class QWidget;

namespace ew {

// The advances of single characters in a widget's font, each asked of the font once: the drawn
// width of a line without laying the text out, which is far cheaper. Kerning is left out, so a
// width may be a pixel or two off.
class CharAdvances {
public:
    explicit CharAdvances(const QWidget* widget) : widget_(widget) { reset(); }

    int of(char16_t code);
    int width(QStringView text);
    // The font changed: every advance is measured afresh.
    void reset();

private:
    const QWidget* widget_;
    std::array<int, 256> latin1_{}; // -1 until measured
    QHash<char16_t, int> other_;
};

} // namespace ew
