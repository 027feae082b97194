// Pasted text of any kind: after a first byte that picks the form, UTF-8 (even, as '8') or raw
// UTF-16, lone surrogates and all (odd, as 'u'). Whatever the paste held, no entry may carry a
// separator or an invisible character, a cleaned entry has no blanks around it, and every
// entry survives being stored and read back.
#include "core/AddressEntries.h"
#include "settings/SettingsCodec.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {
bool unclean(QChar c) {
    return c == QLatin1Char(',') || c.category() == QChar::Other_Control ||
           c.category() == QChar::Other_Format;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const char* rest = reinterpret_cast<const char*>(data + 1);
    QString text = QString::fromUtf8(rest, qsizetype(size - 1));
    if (data[0] & 1) {
        text.resize(qsizetype((size - 1) / 2));
        std::memcpy(text.data(), rest, size_t(text.size()) * 2);
    }
    const QStringList entries = ew::addressEntries(text);
    const bool cleaned = std::any_of(text.cbegin(), text.cend(), unclean);
    for (const QString& e : entries)
        if (std::any_of(e.cbegin(), e.cend(), unclean) ||
            (cleaned && (e.isEmpty() || e != e.trimmed())))
            std::abort();
    if (ew::decodeList(ew::encodeList(entries)) != entries)
        std::abort();
    return 0;
}
