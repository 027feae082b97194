#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ew {

// One ICMP echo attempt with the six-argument call's contract: result 0 means a reply came and
// roundTripMs holds its round-trip time; any other result is a failure (see echo/echoping.h
// for the codes). roundTripMs is left untouched on failure.
class Echo {
public:
    virtual ~Echo() = default;
    virtual std::int16_t ping(const std::string& address, std::int16_t packetSize,
                              std::int32_t& roundTripMs, std::int16_t timeoutMs) = 0;
    // Called from another thread: makes a ping() in progress return a failure at once.
    virtual void interrupt() {}

    // One attempt in two halves, for the window's thread, which must not wait long: start()
    // gives the outcome when the attempt ends within quick; otherwise nullopt, and finish(),
    // called next from any thread, makes the rest of the same attempt and gives its outcome.
    // By default nothing ends in the first half and finish() makes the whole attempt.
    virtual std::optional<std::int16_t> start(const std::string& address, std::int16_t packetSize,
                                              std::int32_t& roundTripMs, std::int16_t timeoutMs,
                                              std::chrono::microseconds quick);
    virtual std::int16_t finish(std::int32_t& roundTripMs);
    // Gives up a begun attempt instead of finishing it (Stop came before its second half).
    virtual void abandon();

private:
    struct Begun {
        std::string address;
        std::int16_t packetSize;
        std::int16_t timeoutMs;
    };
    std::optional<Begun> begun_;
};

// The real echo: calls the C component in echo/.
class IcmpEcho final : public Echo {
public:
    IcmpEcho();
    ~IcmpEcho() override;
    std::int16_t ping(const std::string& address, std::int16_t packetSize,
                      std::int32_t& roundTripMs, std::int16_t timeoutMs) override;
    void interrupt() override;
    std::optional<std::int16_t> start(const std::string& address, std::int16_t packetSize,
                                      std::int32_t& roundTripMs, std::int16_t timeoutMs,
                                      std::chrono::microseconds quick) override;
    std::int16_t finish(std::int32_t& roundTripMs) override;
    void abandon() override;

private:
    struct Call;
    std::unique_ptr<Call> call_;
};

} // namespace ew
