#pragma once
// Waiting in a benchmark that is itself a Qt program: its windows stay responsive meanwhile, so
// that a paste can be served and seen.

#include <QApplication>
#include <chrono>
#include <thread>

namespace vurin::bench {

// Runs the event loop until `condition` holds (true) or `timeout` passes (false), looking again
// every `pause`.
template <typename Condition>
bool pumpUntil(Condition condition, std::chrono::steady_clock::duration timeout,
               std::chrono::microseconds pause = std::chrono::microseconds(200)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 1);
        std::this_thread::sleep_for(pause);
    }
    return true;
}

}  // namespace vurin::bench
