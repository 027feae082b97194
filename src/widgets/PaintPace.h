#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>

namespace ew {

// Paces what a widget shows of changes that come faster than an eye follows them. A change
// shows at once when the last one that did is a quarter of a second ago or more; one that comes
// sooner waits and shows together with those after it: with the first of them that is a
// quarter of a second after the last showing, or from a timer, at most 3/8 of a second after
// it. Passes every tenth of a second are then drawn three or four times a second instead of
// ten, and every pass of a second or longer at once.
class PaintPace {
public:
    static constexpr int PaceMs = 250;

    // show makes the waiting changes appear; it is called from the timer only. A slower pace
    // than the quarter second suits what changes by a pixel at a time.
    PaintPace(QObject* context, std::function<void()> show, int paceMs = PaceMs);

    // True when a change may show now; otherwise it is shown later, through show.
    bool mayShow();
    // A change showed without asking (the operator's own doing): nothing of it waits.
    void cancel() { timer_.stop(); }

private:
    QElapsedTimer shown_;
    QTimer timer_;
    int paceMs_;
};

} // namespace ew
