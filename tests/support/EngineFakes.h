#pragma once

// Fakes of the seams the engine needs: each records what the program asked of it and answers
// from a script, so that a test can start from any outside state and see every effect.

#include "platform/Clock.h"
#include "platform/Echo.h"
#include "platform/SettingsStore.h"
#include "settings/SettingsKeys.h"

#include <QElapsedTimer>
#include <QHash>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <unordered_map>
#include <vector>

namespace ew::test {

// Scripted echo: answers from the script, then with a reply in 1 ms, from "ip of <address>";
// records every call. Each answer comes from the event loop, as the real echo's does: at once,
// or after delayMs (a slow or silent host). onCall runs as the attempt starts (e.g. to advance
// the fake clock, or to set the delay of this very attempt).
class FakeEcho final : public Echo {
public:
    struct Call {
        std::string address;
        int packetSize, timeoutMs;
        std::chrono::steady_clock::time_point at;
    };

    std::uint64_t start(const QString& address, int packetSize, int timeoutMs, Done done) override {
        const Call call{address.toStdString(), packetSize, timeoutMs,
                        std::chrono::steady_clock::now()};
        if (recordCalls)
            calls.push_back(call);
        if (onCall)
            onCall(call);
        const int ms = script.empty() ? 1 : script.front();
        if (!script.empty())
            script.pop_front();
        pending_[++lastId_] = {
            std::move(done),
            {std::max(-ms, 0), std::chrono::milliseconds(std::max(ms, 0)), "ip of " + address}};
        if (delayMs > 0)
            QTimer::singleShot(delayMs, Qt::PreciseTimer, &context_,
                               [this, id = lastId_] { answer(id); });
        // Answers that come at once go out together, as the real echo reads replies that came
        // together in one wake-up: for up to its span, then the event loop turns.
        else if (due_.push_back(lastId_); due_.size() == 1)
            QTimer::singleShot(0, &context_, [this] { answerDue(); });
        return lastId_;
    }
    void cancel(std::uint64_t attempt) override { cancels_ += int(pending_.erase(attempt)); }
    std::size_t inFlight() const { return pending_.size(); } // neither answered nor cancelled
    int cancels() const { return cancels_; }

    void reply(int ms, int times = 1) { script.insert(script.end(), times, ms); }
    void fail(int times = 1, int result = 1) { script.insert(script.end(), times, -result); }
    std::deque<int> script; // round trips of the next replies in ms; -N fails with result N
    std::function<void(const Call&)> onCall;
    std::vector<Call> calls;
    bool recordCalls = true;
    int delayMs = 0;

private:
    void answer(std::uint64_t id) {
        if (auto node = pending_.extract(id))
            node.mapped().first(node.mapped().second);
    }
    void answerDue() {
        QElapsedTimer span;
        span.start();
        while (!due_.empty() && span.elapsed() < 2) {
            const std::uint64_t id = due_.front();
            due_.pop_front();
            answer(id);
        }
        if (!due_.empty())
            QTimer::singleShot(0, &context_, [this] { answerDue(); });
    }

    std::unordered_map<std::uint64_t, std::pair<Done, EchoOutcome>> pending_;
    std::deque<std::uint64_t> due_;
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
// put() and value() work in the program's own section.
class FakeStore final : public SettingsStore {
public:
    std::optional<QString> get(const QString& app, const QString& section,
                               const QString& key) override {
        const auto it = values.constFind(app + '/' + section + '/' + key);
        return it == values.constEnd() ? std::nullopt : std::optional<QString>(*it);
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
    void put(const QString& key, const QString& value) {
        values.insert(keys::App + '/' + keys::Section + '/' + key, value);
    }
    std::optional<QString> value(const QString& key) { return get(keys::App, keys::Section, key); }

    QHash<QString, QString> values;
    QStringList writes;
    bool failWrites = false;
};

} // namespace ew::test
