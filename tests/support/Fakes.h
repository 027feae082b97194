#pragma once

// Fakes of the seams only a window needs, beside the engine's: each records what the program
// asked of it and answers from a script.

#include "engine/HostStates.h"
#include "platform/Platform.h"
#include "support/EngineFakes.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <optional>

namespace ew::test {

// Answers Yes/No boxes from answers (then No), records each box.
class FakeMessageBoxes final : public MessageBoxes {
public:
    struct Box {
        QString text, title;
        MsgIcon icon;
        MsgButtons buttons;
        bool operator==(const Box&) const = default;
    };
    MsgAnswer show(QWidget*, const QString& text, const QString& title, MsgIcon icon,
                   MsgButtons buttons) override {
        shown.push_back({text, title, icon, buttons});
        if (buttons == MsgButtons::Ok || answers.empty())
            return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::No;
        const MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::deque<MsgAnswer> answers;
    std::vector<Box> shown;
};

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

class FakeNotifier final : public Notifier {
public:
    void notify(const QString& summary, const QString& body) override {
        notices.push_back({summary, body});
    }
    std::vector<Notice> notices;
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
