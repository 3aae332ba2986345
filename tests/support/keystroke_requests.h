#pragma once

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "platform/keystrokes.h"

namespace vurin::testing {

// A request made and waited for, for the tests of the keystroke paths themselves: the outcome,
// or nothing sent when no answer came within `limit` (a portal may wait for its consent).
inline KeystrokeOutcome waitedFor(const std::function<void(KeystrokeSender::Done)>& request,
                                  std::chrono::seconds limit = std::chrono::seconds(40)) {
    auto answer = std::make_shared<std::promise<KeystrokeOutcome>>();
    std::future<KeystrokeOutcome> outcome = answer->get_future();
    request([answer](const KeystrokeOutcome& got) { answer->set_value(got); });
    if (outcome.wait_for(limit) != std::future_status::ready) {
        return {.sent = 0, .total = 1};
    }
    return outcome.get();
}

inline KeystrokeOutcome sendAndWait(KeystrokeSender& sender, Keystroke keystroke,
                                    std::size_t count = 1) {
    return waitedFor(
        [&](KeystrokeSender::Done done) { sender.send(keystroke, count, {}, std::move(done)); });
}

inline KeystrokeOutcome typeAndWait(KeystrokeSender& sender, const std::string& text) {
    return waitedFor([&](KeystrokeSender::Done done) { sender.type(text, std::move(done)); });
}

}  // namespace vurin::testing
