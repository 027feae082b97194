#include "support/Fakes.h"

#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QWidget>
#include <ostream>

namespace ew::test {

std::int16_t FakeEcho::ping(const std::string& address, std::int16_t packetSize,
                            std::int32_t& roundTripMs, std::int16_t timeoutMs) {
    const Call call{address, packetSize, timeoutMs};
    if (recordCalls)
        calls.push_back(call);
    if (onCall)
        onCall(call);
    Outcome o = defaultOutcome;
    if (!script.empty()) {
        o = script.front();
        script.pop_front();
    }
    if (o.result == 0)
        roundTripMs = o.roundTripMs;
    return o.result;
}

void FakeEcho::reply(std::int32_t ms, int times) {
    for (int i = 0; i < times; ++i)
        script.push_back({0, ms});
}

void FakeEcho::fail(int times, std::int16_t code) {
    for (int i = 0; i < times; ++i)
        script.push_back({code, 0});
}

} // namespace ew::test
