#pragma once

#include <cstdint>
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
};

// The real echo: calls the C component in echo/.
class IcmpEcho final : public Echo {
public:
    std::int16_t ping(const std::string& address, std::int16_t packetSize,
                      std::int32_t& roundTripMs, std::int16_t timeoutMs) override;
    void interrupt() override;
};

} // namespace ew
