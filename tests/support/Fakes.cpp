#include "support/Fakes.h"

#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QWidget>
#include <ostream>

namespace ew::test {

std::int16_t FakeEcho::ping(const std::string& address, std::int16_t packetSize,
                            std::int32_t& roundTripMs, std::int16_t timeoutMs) {
    const Call call{address, packetSize, timeoutMs};
    if (recordCalls)
        calls.push_back(call);
    if (onCall)
        onCall(call);
    Outcome o = defaultOutcome;
    if (!script.empty()) {
        o = script.front();
        script.pop_front();
    }
    if (o.result == 0)
        roundTripMs = o.roundTripMs;
    return o.result;
}

void FakeEcho::reply(std::int32_t ms, int times) {
    for (int i = 0; i < times; ++i)
        script.push_back({0, ms});
}

void FakeEcho::fail(int times, std::int16_t code) {
    for (int i = 0; i < times; ++i)
        script.push_back({code, 0});
}

namespace {
QString path(const QString& app, const QString& section, const QString& key) {
    return app + QLatin1Char('/') + section + QLatin1Char('/') + key;
}
} // namespace

std::optional<QString> FakeStore::get(const QString& app, const QString& section,
                                      const QString& key) {
    const auto it = values.constFind(path(app, section, key));
    if (it == values.constEnd())
        return std::nullopt;
    return *it;
}

void FakeStore::save(const QString& app, const QString& section, const QString& key,
                     const QString& value) {
    values.insert(path(app, section, key), value);
    writes << key + QLatin1Char('=') + value;
}

bool FakeStore::flush(const QString&, QString* reason) {
    ++flushes;
    if (failWrites) {
        if (reason)
            *reason = QStringLiteral("the file is read-only");
        return false;
    }
    return true;
}

QString FakeStore::location(const QString& app) const {
    return QStringLiteral("/fake/config/") + app + QLatin1Char('/') + app + QStringLiteral(".ini");
}

void FakeStore::put(const QString& key, const QString& value) {
    values.insert(path(keys::App, keys::Section, key), value);
}

std::optional<QString> FakeStore::value(const QString& key) const {
    const auto it = values.constFind(path(keys::App, keys::Section, key));
    if (it == values.constEnd())
        return std::nullopt;
    return *it;
}

MsgAnswer FakeMessageBoxes::show(QWidget*, const QString& text, const QString& title, MsgIcon icon,
                                 MsgButtons buttons) {
    const Box box{text, title, icon, buttons};
    shown.push_back(box);
    if (whileOpen)
        whileOpen(box);
    if (buttons == MsgButtons::Ok)
        return MsgAnswer::Ok;
    if (!answers.empty()) {
        const MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    return defaultYesNo;
}

bool FakeLauncher::start(const QString& program, const QStringList& arguments) {
    started.push_back({program, arguments});
    return succeed;
}

bool FakeLauncher::openInTextEditor(const QString& path) {
    editorOpened << path;
    return succeed;
}

QWidget* FakeWindowProbe::widgetAt(const QPoint& globalPos) const {
    if (under)
        return under->data();
    return QApplication::widgetAt(globalPos);
}

void PrintTo(const FakeMessageBoxes::Box& box, std::ostream* os) {
    *os << '"' << box.title.toStdString() << "\": \"" << box.text.toStdString() << "\" (icon "
        << static_cast<int>(box.icon) << ", buttons " << static_cast<int>(box.buttons) << ')';
}

} // namespace ew::test
