#pragma once

// The main window as the operator meets it on the screen: controls are found at their design
// places (twips / 15 = pixels, inside the client area under the menu bar) and worked with
// the mouse and the keyboard.

#include "e2e/ProgramUnderTest.h"
#include "e2e/XSession.h"

#include <QString>

#include <chrono>
#include <optional>
#include <string>

namespace ew::e2e {

// A control's design rectangle in twips, in window (client area) coordinates.
struct DesignRect {
    int left;
    int top;
    int width;
    int height;
};

namespace controls {
constexpr int TwipsPerPixel = 15;
// Frames place their children relative to themselves.
constexpr int Frame1Left = 2400, Frame1Top = 3120;
constexpr int Frame2Left = 120, Frame2Top = 5400;

constexpr DesignRect cmdStartPing{120, 120, 855, 315};
constexpr DesignRect cmdStopPing{1080, 120, 855, 315};
constexpr DesignRect cmdOpenLog{2040, 120, 1095, 315};
constexpr DesignRect cmdExit{3720, 120, 975, 315};
constexpr DesignRect cmdSave{1680, 2640, 1335, 315};
constexpr DesignRect cmdSettings{3120, 2640, 1575, 315};
constexpr DesignRect txtIPAddress{120, 3240, 2175, 285};
constexpr DesignRect cmdAdd{120, 3600, 555, 315};
constexpr DesignRect txtInterval{Frame1Left + 120, Frame1Top + 240, 375, 285};
constexpr DesignRect optSeconds{Frame1Left + 720, Frame1Top + 840, 255, 255};
constexpr DesignRect optMinutes{Frame1Left + 720, Frame1Top + 1080, 255, 255};
constexpr DesignRect optMilSeconds{3120, 3720, 1335, 255};
constexpr DesignRect txtAttempts{Frame1Left + 120, Frame1Top + 1440, 375, 285};
constexpr DesignRect txtNumBytes{2520, 4920, 375, 285};
constexpr DesignRect txtTimeout{2520, 5280, 375, 285};
constexpr DesignRect chkBeep{Frame2Left + 120, Frame2Top + 240, 255, 255};
constexpr DesignRect chkLogTotal{Frame2Left + 120, Frame2Top + 480, 255, 255};
constexpr DesignRect txtLog{2520, 5880, 2175, 285};
constexpr DesignRect cmdSetLog{2520, 6240, 735, 250};
// A plain spot of the window that no help text belongs to (the Label4 row).
constexpr DesignRect restingPlace{120, 2640, 1245, 300};

// Client heights in pixels: with the settings panel, and the short window without it.
constexpr int FullClientHeightPx = 6990 / TwipsPerPixel;
constexpr int ShortClientHeightPx = 3000 / TwipsPerPixel + 435 / TwipsPerPixel;
constexpr int ClientWidthPx = 4815 / TwipsPerPixel;
} // namespace controls

class MainWindowDriver {
public:
    static constexpr const char* Title = "Echo Warden";
    static constexpr auto AppearLimit = 30s;
    // The help pop-up hides within one poll (1 s) once the pointer leaves its control.
    static constexpr auto TipLimit = 4s;

    MainWindowDriver(Operator& op, Program& program) : op_(op), program_(program) {}

    // Waits for the window and measures its menu bar (the window's height less the design
    // client area, the settings panel being shown at start).
    bool appear() {
        const auto id = op_.findWindow(QString::fromLatin1(Title), AppearLimit);
        if (!id)
            return false;
        id_ = *id;
        const auto g = op_.geometry(id_);
        if (!g)
            return false;
        menuBar_ = g->height - controls::FullClientHeightPx;
        return menuBar_ >= 0 && menuBar_ < 100;
    }

    const QString& id() const { return id_; }
    int menuBarHeight() const { return menuBar_; }
    std::optional<WindowGeometry> geometry() { return op_.geometry(id_); }

    // Clicks the middle of a control. The pointer first goes there and the click waits
    // until no help pop-up left over from the last place covers it.
    bool click(const DesignRect& r) {
        const int x = (r.left + r.width / 2) / controls::TwipsPerPixel;
        const int y = menuBar_ + (r.top + r.height / 2) / controls::TwipsPerPixel;
        if (!op_.moveTo(id_, x, y))
            return false;
        if (!waitUntil([&] { return op_.windowUnderPointer() == id_; }, TipLimit))
            return false;
        return op_.clickHere();
    }

    // Replaces the whole text of a box as an operator does: click, select all, type.
    bool setText(const DesignRect& box, const QString& text) {
        return click(box) && op_.key(QStringLiteral("ctrl+a")) && op_.type(text);
    }

    bool addAddress(const QString& address) {
        return setText(controls::txtIPAddress, address) && click(controls::cmdAdd);
    }

    // Rests the pointer on a plain spot and waits until only the main window shows (no
    // help pop-up, no box), e.g. before a screenshot.
    bool rest() {
        const DesignRect& r = controls::restingPlace;
        if (!op_.moveTo(id_, (r.left + r.width / 2) / controls::TwipsPerPixel,
                        menuBar_ + (r.top + r.height / 2) / controls::TwipsPerPixel))
            return false;
        return waitUntil(
            [&] {
                const QStringList shown = op_.visibleWindowsOf(program_.pid());
                return shown.size() == 1 && shown.first() == id_;
            },
            TipLimit);
    }

    // Opens File > Unattended with the keyboard; the schedule dialog's window id.
    std::optional<QString> openSchedule() {
        if (!op_.focus(id_) || !op_.key(QStringLiteral("alt+f")) ||
            !op_.key(QStringLiteral("Return")))
            return std::nullopt;
        return op_.findWindow(QStringLiteral("Schedule"), WindowLimit);
    }

    // Waits for a message box of this title and answers it with a key.
    bool answerBox(const QString& title, const QString& key,
                   std::chrono::milliseconds limit = WindowLimit) {
        const auto box = op_.findWindow(title, limit);
        if (!box)
            return false;
        lastBox_ = *box;
        return op_.focus(*box) && op_.key(key) &&
               waitUntil([&] { return !op_.windowNow(title).has_value(); }, WindowLimit);
    }
    const QString& lastBox() const { return lastBox_; }

private:
    Operator& op_;
    Program& program_;
    QString id_;
    QString lastBox_;
    int menuBar_ = 0;
};

} // namespace ew::e2e
