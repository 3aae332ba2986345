#include "input/trigger_delivery.h"

#include <gtest/gtest.h>

#include "support/testing.h"

// `vurin --trigger press|release` are processes of their own, on every session: a release may
// overtake its press, and the press that arrives late must not hold the key down for good.
namespace vurin::testing {
namespace {

TEST(BindingEventOrderTest, AnEventOlderThanOneLetThroughIsDropped) {
    struct Event {
        bool down;
        double at, now;
        std::optional<double> admitted;
    };
    struct Row {
        const char* name;
        std::vector<Event> events;
    };
    const Row rows[] = {
        {"in order", {{true, 10.0, 10.1, 10.0}, {false, 10.5, 10.6, 10.5}}},
        {"release overtakes its press",
         {{false, 10.5, 10.6, 10.5}, {true, 10.0, 10.7, std::nullopt}}},
        {"equal times both pass", {{true, 10.0, 10.1, 10.0}, {false, 10.0, 10.1, 10.0}}},
        // Times from another clock are clamped first, so one far ahead silences nothing.
        {"from the future", {{true, 99.0, 10.0, 10.0}, {false, 10.2, 10.3, 10.2}}},
        // An old press is clamped for the engine, yet a release that started after it passes.
        {"old press", {{true, 1.0, 10.0, 10.0}, {false, 9.0, 10.5, 10.0}}},
        {"old press after its release", {{false, 9.0, 10.5, 9.0}, {true, 1.0, 10.6, std::nullopt}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LogCapture logs;
        BindingEventOrder order;
        std::size_t dropped = 0;
        for (const Event& event : row.events) {
            EXPECT_EQ(order.admit(event.down, event.at, event.now), event.admitted);
            dropped += !event.admitted;
        }
        EXPECT_EQ(logs.countContaining("才到达,已忽略"), dropped);
    }
}

}  // namespace
}  // namespace vurin::testing
