#include "widgets/GlyphLine.h"

#include <QGlyphRun>
#include <QPainter>
#include <utility>

namespace ew {

namespace {

// Characters that look the same one by one as in a shaped line: left-to-right Latin letters,
// digits, punctuation and signs such as the reply arrow.
bool standsAlone(QChar c) {
    if (c.isSurrogate() || c.isMark() || c.isNonCharacter() ||
        c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
        return false;
    const QChar::Script script = c.script();
    return script == QChar::Script_Latin || script == QChar::Script_Common;
}

} // namespace

bool GlyphLine::draw(QPainter& painter, const QPointF& baseline, const QString& text) {
    if (painter.font() != font_ || !raw_.isValid()) {
        font_ = painter.font();
        raw_ = QRawFont::fromFont(font_);
        glyphOf_.clear();
    }
    if (text.isEmpty())
        return true;
    if (!raw_.isValid() || !glyphsFor(text)) {
        painter.drawText(baseline, text);
        return false;
    }
    const qsizetype n = glyphs_.size();
    positions_.resize(n);
    if (!raw_.advancesForGlyphIndexes(glyphs_.constData(), positions_.data(), static_cast<int>(n),
                                      QRawFont::KernedAdvances)) {
        painter.drawText(baseline, text);
        return false;
    }
    // Each glyph's advance becomes its place: the sum of the advances before it.
    qreal x = 0;
    for (QPointF& p : positions_)
        x += std::exchange(p, QPointF(x, 0)).x();
    QGlyphRun run;
    run.setRawFont(raw_);
    run.setGlyphIndexes(glyphs_);
    run.setPositions(positions_);
    painter.drawGlyphRun(baseline, run);
    return true;
}

bool GlyphLine::glyphsFor(const QString& text) {
    glyphs_.resize(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t code = text[i].unicode();
        // Fonts join an f with the letter after it (fi, fl, ff...): only shaping gets that.
        if (i > 0 && text[i - 1] == QLatin1Char('f') &&
            (code == u'f' || code == u'i' || code == u'j' || code == u'l' || code == u't'))
            return false;
        auto found = glyphOf_.constFind(code);
        if (found == glyphOf_.constEnd()) {
            quint32 glyph = 0;
            if (standsAlone(QChar(code)))
                glyph = raw_.glyphIndexesForString(QString(QChar(code))).value(0);
            found = glyphOf_.insert(code, glyph);
        }
        if (*found == 0)
            return false;
        glyphs_[i] = *found;
    }
    return true;
}

} // namespace ew
