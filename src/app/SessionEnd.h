#pragma once

#include <QObject>

class QSocketNotifier;

namespace ew {

// The ways the system ends a program that an operator did not end: SIGTERM (logout, shutdown,
// kill), SIGHUP (the terminal went), SIGINT (Ctrl+C in the terminal) and the session manager's
// end of session. Each is turned into one endRequested() on the window's thread, so the
// program can end as Exit ends it, rather than at once with the operator's changes lost.
//
// A signal handler may do next to nothing, so it writes the signal's number into a socket pair
// and a socket notifier hands it to the event loop. The handlers are one-shot: a second signal
// ends the program at once, as it would have without them.
class SessionEnd : public QObject {
    Q_OBJECT
public:
    SessionEnd();
    ~SessionEnd() override;

Q_SIGNALS:
    void endRequested();

private:
    void request(); // once
    QSocketNotifier* notifier_ = nullptr;
    bool requested_ = false;
};

} // namespace ew
