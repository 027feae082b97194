#pragma once

#include "platform/Platform.h"

#include <QDateTime>
#include <QHash>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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

    void reply(std::int32_t ms, int times = 1);
    void fail(int times = 1, std::int16_t code = 1);
    // Answer for calls beyond the script; replies in 1 ms by default.
    Outcome defaultOutcome{0, 1};
    // Runs during each call, on the window's thread (e.g. to advance a fake clock).
    std::function<void(const Call&)> onCall;
    std::deque<Outcome> script;
    std::vector<Call> calls;
    bool recordCalls = true;
    std::atomic<int> delayMs{0};

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
    FakeClock() : now_(QDate(2026, 12, 7), QTime(10, 0, 0)) {}
    QDateTime now() const override { return now_; }
    void set(const QDateTime& t) { now_ = t; }
    void setTime(const QTime& t) { now_.setTime(t); }
    void advanceSecs(qint64 s) { now_ = now_.addSecs(s); }
    void advanceMs(qint64 ms) { now_ = now_.addMSecs(ms); }

private:
    QDateTime now_;
};

class FakeStore final : public SettingsStore {
public:
    std::optional<QString> get(const QString& app, const QString& section,
                               const QString& key) override;
    void save(const QString& app, const QString& section, const QString& key,
              const QString& value) override;
    bool flush(const QString& app, QString* reason) override;
    QString location(const QString& app) const override;

    // Values addressed as "app/section/key".
    QHash<QString, QString> values;
    // Every save in order, as "key=value".
    QStringList writes;
    int flushes = 0;
    bool failWrites = false;
    // Convenience for the program's own app and section.
    void put(const QString& key, const QString& value);
    std::optional<QString> value(const QString& key) const;
};

// Answers message boxes from a queue (then with the default) and records each box.
class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Box {
        QString text;
        QString title;
        MsgIcon icon;
        MsgButtons buttons;
        bool operator==(const Box&) const = default;
    };
    MsgAnswer show(QWidget* parent, const QString& text, const QString& title, MsgIcon icon,
                   MsgButtons buttons) override;
    std::deque<MsgAnswer> answers;
    MsgAnswer defaultYesNo = MsgAnswer::No;
    // Runs while the box is "open" (e.g. to deliver timer ticks meanwhile).
    std::function<void(const Box&)> whileOpen;
    std::vector<Box> shown;
};

// Spells a box out in failure messages.
void PrintTo(const FakeMessageBoxes::Box& box, std::ostream* os);

class FakeLauncher final : public Launcher {
public:
    struct Start {
        QString program;
        QStringList arguments;
    };
    bool start(const QString& program, const QStringList& arguments) override;
    bool openInTextEditor(const QString& path) override;
    std::vector<Start> started;
    QStringList editorOpened;
    bool succeed = true;
};

class FakeBeeper final : public Beeper {
public:
    void beep() override { ++beeps; }
    int beeps = 0;
};

// Places the pointer over a chosen widget (or at a point) and names the active window.
class FakeWindowProbe final : public WindowProbe {
public:
    QPoint cursorPos() const override { return pos; }
    QWidget* widgetAt(const QPoint& globalPos) const override;
    QWidget* activeWindow() const override { return active; }

    QPoint pos{100, 100};
    // When set, widgetAt answers with this widget, else with the real widget under pos.
    std::optional<QPointer<QWidget>> under;
    QPointer<QWidget> active;
};

// All fakes in one place, and the Platform that refers to them.
struct FakePlatform {
    FakeEcho echo;
    FakeStore store;
    FakeClock clock;
    FakeMessageBoxes messages;
    FakeLauncher launcher;
    FakeBeeper beeper;
    FakeWindowProbe windows;
    Platform platform() {
        return Platform{echo, store, clock, messages, launcher, beeper, windows};
    }
};

} // namespace ew::test
