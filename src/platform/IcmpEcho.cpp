#include "platform/Echo.h"

#include "echoping.h"

namespace ew {

std::int16_t IcmpEcho::ping(const std::string& address, std::int16_t packetSize,
                            std::int32_t& roundTripMs, std::int16_t timeoutMs) {
    // The callee may write the replying address here; nothing of ours reads it back.
    char reply[ECHO_REPLY_BUFFER] = "                ";
    std::int32_t rtt = 0;
    const std::int16_t result = ::ping(address.c_str(), reply, packetSize, &rtt, timeoutMs, 0);
    if (result == ECHO_OK)
        roundTripMs = rtt;
    return result;
}

void IcmpEcho::interrupt() {
    ::echo_interrupt();
}

struct IcmpEcho::Call {
    echo_call call{};
    // The callee may write the replying address here; nothing of ours reads it back.
    char reply[ECHO_REPLY_BUFFER] = "                ";
};

IcmpEcho::IcmpEcho() : call_(std::make_unique<Call>()) {}

IcmpEcho::~IcmpEcho() = default;

std::optional<std::int16_t> IcmpEcho::start(const std::string& address, std::int16_t packetSize,
                                            std::int32_t& roundTripMs, std::int16_t timeoutMs,
                                            std::chrono::microseconds quick) {
    std::int32_t rtt = 0;
    const std::int16_t result =
        ::echo_start(&call_->call, address.c_str(), call_->reply, packetSize, &rtt, timeoutMs,
                     static_cast<std::int32_t>(quick.count()));
    if (result == ECHO_PENDING)
        return std::nullopt;
    if (result == ECHO_OK)
        roundTripMs = rtt;
    return result;
}

std::int16_t IcmpEcho::finish(std::int32_t& roundTripMs) {
    std::int32_t rtt = 0;
    const std::int16_t result = ::echo_finish(&call_->call, call_->reply, &rtt);
    if (result == ECHO_OK)
        roundTripMs = rtt;
    return result;
}

void IcmpEcho::abandon() {
    ::echo_abandon(&call_->call);
}

} // namespace ew
