#include "platform/keystrokes.h"

#include <thread>

namespace vurin {

void ImmediateKeystrokeSender::send(Keystroke keystroke, std::size_t count,
                                    std::chrono::microseconds interval, Done done) {
    KeystrokeOutcome outcome{.total = count};
    while (outcome.sent < count && post(keystroke)) {
        ++outcome.sent;
        if (outcome.sent < count && interval.count() > 0) {
            std::this_thread::sleep_for(interval);
        }
    }
    done(outcome);
}

void ImmediateKeystrokeSender::type(const std::string& text, Done done) {
    const std::size_t total = codePointCount(text);
    done({.sent = typeText(text) ? total : 0, .total = total});
}

std::size_t codePointCount(const std::string& text) {
    std::size_t count = 0;
    for (const unsigned char byte : text) {
        count += (byte & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

}  // namespace vurin
