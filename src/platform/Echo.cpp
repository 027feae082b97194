#include "platform/Echo.h"

namespace ew {

std::optional<std::int16_t> Echo::start(const std::string& address, std::int16_t packetSize,
                                        std::int32_t& /*roundTripMs*/, std::int16_t timeoutMs,
                                        std::chrono::microseconds /*quick*/) {
    begun_ = Begun{address, packetSize, timeoutMs};
    return std::nullopt;
}

std::int16_t Echo::finish(std::int32_t& roundTripMs) {
    const Begun b = *begun_;
    begun_.reset();
    return ping(b.address, b.packetSize, roundTripMs, b.timeoutMs);
}

void Echo::abandon() {
    begun_.reset();
}

} // namespace ew
