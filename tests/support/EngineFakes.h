#pragma once

// Fakes of the seams the engine needs: each records what the program asked of it and answers
// from a script, so that a test can start from any outside state and see every effect.

#include "platform/Clock.h"
#include "platform/Echo.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace ew::test {

// Scripted echo: answers from a queue of outcomes, then with the default; records every call.
// Each answer comes from the event loop, as the real echo's does: at once, or after delayMs (a
// slow or silent host). onCall runs as the attempt starts (e.g. to advance a fake clock).
class FakeEcho final : public Echo {
public:
    struct Call {
        std::string address;
        int packetSize;
        int timeoutMs;
    };
    struct Outcome {
        int result; // 0 = reply
        std::int32_t roundTripMs;
    };
    // delayMs value: wait the call's own time-out, then answer (a host that never answers,
    // with fail() or a failing defaultOutcome).
    static constexpr int WaitTimeout = -1;

    std::uint64_t start(const QString& address, int packetSize, int timeoutMs, Done done) override;
    void cancel(std::uint64_t attempt) override;
    // Attempts started and neither answered nor cancelled yet.
    std::size_t inFlight() const { return pending_.size(); }
    int cancels() const { return cancels_; }

    void reply(std::int32_t ms, int times = 1) { script.insert(script.end(), times, {0, ms}); }
    void fail(int times = 1) { script.insert(script.end(), times, {1, 0}); }
    // Answer for calls beyond the script; replies in 1 ms by default.
    Outcome defaultOutcome{0, 1};
    std::function<void(const Call&)> onCall;
    std::deque<Outcome> script;
    std::vector<Call> calls;
    bool recordCalls = true;
    int delayMs = 0;

private:
    void answer(std::uint64_t id, const EchoOutcome& outcome);
    void answerDue();

    std::unordered_map<std::uint64_t, Done> pending_;
    std::deque<std::pair<std::uint64_t, EchoOutcome>> due_;
    std::uint64_t lastId_ = 0;
    int cancels_ = 0;
    QObject context_;
};

// Stands still where set, unless run() lets it go on at the pace of real time.
class FakeClock final : public Clock {
public:
    QDateTime now() const override {
        return running_.isValid() ? now_.addMSecs(running_.elapsed()) : now_;
    }
    void set(const QDateTime& t) { now_ = t; }
    void advanceSecs(qint64 s) { now_ = now_.addSecs(s); }
    void run() { running_.start(); }

private:
    QDateTime now_{QDate(2026, 12, 7), QTime(10, 0, 0)};
    QElapsedTimer running_;
};

// Values under "app/section/key"; every save also lands in writes as "key=value", in order.
class FakeStore final : public SettingsStore {
public:
    std::optional<QString> get(const QString& app, const QString& section,
                               const QString& key) override {
        return at(app + '/' + section + '/' + key);
    }
    void save(const QString& app, const QString& section, const QString& key,
              const QString& value) override {
        values.insert(app + '/' + section + '/' + key, value);
        writes << key + '=' + value;
    }
    bool flush(const QString&, QString* reason) override {
        if (failWrites && reason)
            *reason = QStringLiteral("the file is read-only");
        return !failWrites;
    }
    QString location(const QString& app) const override {
        return "/fake/config/" + app + '/' + app + ".ini";
    }
    // The program's own app and section.
    void put(const QString& key, const QString& value) {
        values.insert(keys::App + '/' + keys::Section + '/' + key, value);
    }
    std::optional<QString> value(const QString& key) const {
        return at(keys::App + '/' + keys::Section + '/' + key);
    }

    QHash<QString, QString> values;
    QStringList writes;
    bool failWrites = false;

private:
    std::optional<QString> at(const QString& path) const {
        const auto it = values.constFind(path);
        return it == values.constEnd() ? std::nullopt : std::optional<QString>(*it);
    }
};

} // namespace ew::test
