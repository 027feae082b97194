#pragma once

// Echo attempts one after another, each started from the last one's answer, as a pass one
// after another makes them: the way the benchmarks drive the real echo, on whatever thread
// calls (which then needs a QCoreApplication in the process; Qt gives a thread of its own an
// event dispatcher when the loop is made).

#include "platform/Echo.h"

#include <QEventLoop>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

namespace ew::bench {

struct EchoRequest {
    QString address;
    int packetSize = 56;
    int timeoutMs = 1000;
};

// Runs count attempts: request(i) says what attempt i asks, ended(i, outcome) is told how it
// ended (and may do work of its own before the next one starts). Stops after limit, the
// attempt in flight dropped. Gives how many attempts ended.
inline long chainEchoes(Echo& echo, long count, const std::function<EchoRequest(long)>& request,
                        const std::function<void(long, const EchoOutcome&)>& ended,
                        std::chrono::milliseconds limit) {
    // The answer's callback holds one pointer, as the pass's holds sixteen bytes: neither
    // costs the attempt a heap block.
    struct Chain {
        Echo& echo;
        long count;
        const std::function<EchoRequest(long)>& request;
        const std::function<void(long, const EchoOutcome&)>& ended;
        QEventLoop loop{nullptr};
        long done = 0;
        std::uint64_t inFlight = 0;

        void next() {
            const EchoRequest r = request(done);
            inFlight = echo.start(r.address, r.packetSize, r.timeoutMs,
                                  [this](const EchoOutcome& o) { answered(o); });
        }
        void answered(const EchoOutcome& o) {
            inFlight = 0;
            ended(done, o);
            if (++done < count)
                next();
            else
                loop.quit();
        }
    } c{echo, count, request, ended};
    QTimer::singleShot(limit, &c.loop, &QEventLoop::quit);
    if (count > 0) {
        c.next();
        c.loop.exec();
    }
    if (c.inFlight)
        echo.cancel(c.inFlight);
    return c.done;
}

} // namespace ew::bench
