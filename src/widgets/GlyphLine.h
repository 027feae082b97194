#pragma once

#include <QFont>
#include <QHash>
#include <QList>
#include <QPointF>
#include <QRawFont>
#include <QString>

class QPainter;

namespace ew {

// Draws one line of text at a baseline the quick way. Each character's glyph comes from the
// painter's font once and is kept, and the line goes out as one kerned run of glyphs, without
// the text shaping that QPainter::drawText does on every call: the results list and the status
// panels draw a line per attempt, for days. A line that needs shaping or another font (a
// character outside Latin and the common signs, a mark, one the font lacks, or letters that
// fonts join, such as fi) is drawn by drawText.
class GlyphLine {
public:
    // True when the line went out as a run of kept glyphs, false when drawText drew it.
    bool draw(QPainter& painter, const QPointF& baseline, const QString& text);

private:
    // The glyphs of text into glyphs_, or false when one of its characters has none here.
    bool glyphsFor(const QString& text);

    QFont font_; // the font the glyphs below belong to
    QRawFont raw_;
    QHash<char16_t, quint32> glyphOf_; // 0: drawn by drawText
    QList<quint32> glyphs_;
    QList<QPointF> positions_;
};

} // namespace ew
