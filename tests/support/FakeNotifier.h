#pragma once

#include "engine/HostStates.h"
#include "platform/Notifier.h"

#include <vector>

namespace ew::test {

// Keeps every notification the program raised, in order.
class FakeNotifier final : public Notifier {
public:
    void notify(const QString& summary, const QString& body) override {
        notices.push_back({summary, body});
    }
    std::vector<Notice> notices;
};

} // namespace ew::test
