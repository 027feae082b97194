#pragma once

// Fakes of the platform seams: each records what the program asked of it and answers from a
// script, so that a test can start from any outside state and see every effect.

#include "platform/Platform.h"
#include "settings/SettingsKeys.h"
#include "support/FakeNotifier.h"

#include <QApplication>
#include <QDateTime>
#include <QHash>
#include <QPointer>
#include <QWidget>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>

namespace ew::test {

// Scripted echo: answers from a queue of outcomes, then with the default; records every call.
// The pass calls it from its worker thread. With an onCall, the call is handed over to the
// window's thread as a queued call, so onCall may touch widgets and the fake clock. A delay makes
// each call wait before it answers, as a slow or silent host does; interrupt() ends that wait (and
// a pending handover) at once.
class FakeEcho final : public Echo {
public:
    struct Call {
        std::string address;
        std::int16_t packetSize;
        std::int16_t timeoutMs;
    };
    struct Outcome {
        std::int16_t result; // 0 = reply
        std::int32_t roundTripMs;
    };
    // What an interrupted call returns, as the real echo does.
    static constexpr std::int16_t Interrupted = 7;
    // delayMs value: wait the call's own time-out, then answer (a host that never answers,
    // with fail() or a failing defaultOutcome).
    static constexpr int WaitTimeout = -1;

    std::int16_t ping(const std::string& address, std::int16_t packetSize,
                      std::int32_t& roundTripMs, std::int16_t timeoutMs) override;
    void interrupt() override;
    int interrupts() const { return interrupts_.load(); }

    void reply(std::int32_t ms, int times = 1) { script.insert(script.end(), times, {0, ms}); }
    void fail(int times = 1) { script.insert(script.end(), times, {1, 0}); }
    // Answer for calls beyond the script; replies in 1 ms by default.
    Outcome defaultOutcome{0, 1};
    // Runs during each call, on the window's thread (e.g. to advance a fake clock).
    std::function<void(const Call&)> onCall;
    std::deque<Outcome> script;
    std::vector<Call> calls;
    bool recordCalls = true;
    std::atomic<int> delayMs{0};

    // Without a delay the answer is at once, where the attempt begins.
    std::optional<std::int16_t> start(const std::string& address, std::int16_t packetSize,
                                      std::int32_t& roundTripMs, std::int16_t timeoutMs,
                                      std::chrono::microseconds quick) override {
        if (delayMs.load() == 0)
            return ping(address, packetSize, roundTripMs, timeoutMs);
        return Echo::start(address, packetSize, roundTripMs, timeoutMs, quick);
    }

private:
    struct Handover;
    Outcome answer(const Call& call);

    std::mutex mutex_;
    std::condition_variable interrupted_;
    std::weak_ptr<Handover> pending_;
    std::atomic<int> interrupts_{0};
};

class FakeClock final : public Clock {
public:
    QDateTime now() const override { return now_; }
    void set(const QDateTime& t) { now_ = t; }
    void advanceSecs(qint64 s) { now_ = now_.addSecs(s); }

private:
    QDateTime now_{QDate(2026, 12, 7), QTime(10, 0, 0)};
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

// Answers Yes/No boxes from answers (then No), records each box.
class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Box {
        QString text;
        QString title;
        MsgIcon icon;
        MsgButtons buttons;
        bool operator==(const Box&) const = default;
    };
    MsgAnswer show(QWidget*, const QString& text, const QString& title, MsgIcon icon,
                   MsgButtons buttons) override {
        shown.push_back({text, title, icon, buttons});
        if (buttons == MsgButtons::Ok)
            return MsgAnswer::Ok;
        if (answers.empty())
            return MsgAnswer::No;
        const MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<MsgAnswer> answers;
    std::vector<Box> shown;
};

inline void PrintTo(const FakeMessageBoxes::Box& box, std::ostream* os) {
    *os << '"' << box.title.toStdString() << "\": \"" << box.text.toStdString() << "\" (icon "
        << int(box.icon) << ", buttons " << int(box.buttons) << ')';
}

class FakeLauncher final : public Launcher {
public:
    struct Start {
        QString program;
        QStringList arguments;
    };
    bool start(const QString& program, const QStringList& arguments) override {
        started.push_back({program, arguments});
        return succeed;
    }
    bool openInTextEditor(const QString&) override { return succeed; }
    std::vector<Start> started;
    bool succeed = true;
};

class FakeBeeper final : public Beeper {
public:
    void beep() override { ++beeps; }
    int beeps = 0;
};

// The pointer at pos, over the widget under (when set) or the real one there.
class FakeWindowProbe final : public WindowProbe {
public:
    QPoint cursorPos() const override { return pos; }
    QWidget* widgetAt(const QPoint& at) const override {
        return under ? under->data() : QApplication::widgetAt(at);
    }
    QWidget* activeWindow() const override { return active; }

    QPoint pos{100, 100};
    std::optional<QPointer<QWidget>> under;
    QPointer<QWidget> active;
};

struct FakePlatform {
    FakeEcho echo;
    FakeStore store;
    FakeClock clock;
    FakeMessageBoxes messages;
    FakeLauncher launcher;
    FakeBeeper beeper;
    FakeWindowProbe windows;
    FakeNotifier notifier;
    Platform platform() {
        return {echo, store, clock, messages, launcher, beeper, windows, notifier};
    }
};

} // namespace ew::test
