// Any settings file, as a hand or another program may have left it, read by the store once as
// it is and once behind a UTF-8 byte-order mark: the mark must change nothing, neither whether
// the file reads nor the address list it holds.
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <vector>

namespace {

QTemporaryDir& home() {
    // Memory, where there is a memory file system: the mark is dropped by a replacement that
    // waits for the disk.
    static QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists()
                                 ? QStringLiteral("/dev/shm/ew-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/ew-fuzz-XXXXXX"));
    return dir;
}

struct Read {
    std::optional<QString> error, list;
    bool operator==(const Read&) const = default;
};

Read read(const QByteArray& bytes) {
    // A name of its own every time: QSettings keeps parsed files by name and would not see a
    // rewrite of the same size within the same millisecond.
    static int runs = 0;
    const QString app = QString::number(++runs);
    const QString dir = home().filePath(app);
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + app + QStringLiteral(".ini"));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::abort();
    file.close();
    Read r;
    {
        ew::IniSettingsStore store;
        r = {store.readError(app), store.get(app, ew::keys::Section, ew::keys::IPList)};
    }
    QDir(dir).removeRecursively();
    return r;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The files QSettings keeps parsed make a read allocate more than it frees with no leak, and
    // a leak check after every such read would take most of the time: leaks are looked for once,
    // at the end.
    static std::vector<char*> args(*argv, *argv + *argc);
    static char once[] = "-detect_leaks=0";
    args.insert(args.begin() + 1, once);
    *argv = args.data();
    *argc = int(args.size());
    qputenv("XDG_CONFIG_HOME", home().path().toLocal8Bit());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray mark = QByteArrayLiteral("\xef\xbb\xbf");
    if (!bytes.startsWith(mark) && read(mark + bytes) != read(bytes))
        std::abort();
    return 0;
}
