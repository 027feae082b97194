#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace ew {

// How one echo attempt ended: result 0 is a reply, timed by roundTrip; anything else is a
// failure (the codes of echo/echo.h). ip: the address the request went (or was to go) to, as
// numeric text; empty when the text named none.
struct EchoOutcome {
    int result = 0;
    std::chrono::nanoseconds roundTrip{0};
    QString ip;
};

// What the echo tells besides the outcomes, from the event loop: a reply that came again for an
// attempt already answered (with the address text that attempt was started with), and a read
// from its sockets that failed.
struct EchoEvents {
    std::function<void(const QString& address)> duplicate;
    std::function<void()> receiveError;
};

// ICMP echo attempts as events on the calling thread's event loop. start() sends the request
// (or begins the name's lookup) and returns at once; done is called once, later, from the event
// loop: never from within start(), so a caller may start the next attempt from done without
// the stack growing. cancel() drops an attempt: its done is never called.
class Echo {
public:
    using Done = std::function<void(const EchoOutcome&)>;
    virtual ~Echo() = default;
    virtual std::uint64_t start(const QString& address, int packetSize, int timeoutMs,
                                Done done) = 0;
    virtual void cancel(std::uint64_t attempt) = 0;
    // Ends now, not at the event loop's next turn, the attempts whose outcomes are already in (a
    // loopback reply is in its socket before its send returns). For a caller ready for done.
    virtual void collect() {}
    void setEvents(EchoEvents events) { events_ = std::move(events); }

protected:
    EchoEvents events_;
};

// The real echo: the sockets of the C component in echo/, watched by socket notifiers, a
// deadline timer for the time-outs, and names looked up by glibc's getaddrinfo_a.
class IcmpEcho final : public QObject, public Echo {
public:
    // mode: one of echo_socket_mode (tests force one kind of socket).
    explicit IcmpEcho(int mode = 0);
    ~IcmpEcho() override;
    std::uint64_t start(const QString& address, int packetSize, int timeoutMs, Done done) override;
    void cancel(std::uint64_t attempt) override;
    void collect() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace ew
