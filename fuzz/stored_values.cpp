// Any stored text through every conversion of a stored or typed value. A number read must read
// the same once written back; an integer must be the number rounded; a list that decodes
// cleanly must encode to the very text it came from.
#include "core/Convert.h"
#include "settings/SettingsCodec.h"

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto number = ew::toNumber(text);
    if (number) {
        const auto again = ew::toNumber(ew::numberText(*number));
        if (!std::isfinite(*number) || !again ||
            std::abs(*again - *number) > 1e-14 * std::abs(*number))
            std::abort();
    }
    if (const auto i = ew::toInt16(text); i && (!number || std::abs(*number - *i) > 0.5))
        std::abort();
    if (const auto i = ew::parseInt16(text); i && ew::parseInt16(QString::number(*i)) != i)
        std::abort();
    if (const int c = ew::readCheckValue(text, -1); c < -1 || c > 2)
        std::abort();
    ew::parseBool(text);

    const QStringList items = ew::decodeList(text);
    for (const QString& item : items)
        if (item.isEmpty() || item.contains(QLatin1Char(',')))
            std::abort();
    const bool clean =
        text.isEmpty() || (text.endsWith(QLatin1Char(',')) && !text.startsWith(QLatin1Char(',')) &&
                           !text.contains(QStringLiteral(",,")));
    if (ew::decodeList(ew::encodeList(items)) != items || (clean && ew::encodeList(items) != text))
        std::abort();
    return 0;
}
