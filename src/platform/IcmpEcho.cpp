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

} // namespace ew
