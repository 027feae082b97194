#pragma once

#include <QHash>
#include <QStringView>

#include <array>
#include <optional>
#include <utility>

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
    // Where two texts drawn from the same point differ, in pixels from that point: from the
    // first character that differs to the end of the longer text, or to where the rest of both
    // is the same text at the same place; a character wider each side for kerning and for
    // glyphs that reach past their advance. None for text beyond Latin-1 (arrows aside), which
    // may be shaped or run right to left.
    std::optional<std::pair<int, int>> changed(QStringView was, QStringView now);
    // The font changed: every advance is measured afresh.
    void reset();

private:
    const QWidget* widget_;
    std::array<int, 256> latin1_{}; // -1 until measured
    QHash<char16_t, int> other_;
    int slack_ = -1; // the font's average character width: FreeType reads it from a table
                     // each time it is asked
};

} // namespace ew
