// How quickly a press of the trigger key reaches the gesture engine on the main thread, through
// the real X11 grab (run it inside scripts/test-session, or any X11 session where F13 is free):
// the key is pressed through XTest on a connection of its own, and the time runs from the
// request leaving this process to the handoff block starting on the main queue.
// Prints the figures; never fails.
#include <QCoreApplication>
#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "input/event_tap.h"
#include "input/gesture_engine.h"
#include "platform/x11/key_grab_x11.h"
#include "ui/qt/qt_main_queue.h"

// Xlib last: its macros (Bool, Status) break Qt headers included after it.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPresses = 200;
constexpr unsigned kKeycodeF13 = 191;  // evdev 183 + 8
constexpr std::int64_t kMacKeyCodeF13 = 105;

// Notes when each block posted by the capture thread starts running on the main thread.
class TimestampingQueue final : public vurin::QtMainQueue {
  public:
    using QtMainQueue::QtMainQueue;

    // Waits until more than `count` blocks have started; the start time of block `count`.
    std::optional<Clock::time_point> waitForBlock(std::size_t count) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 2s, [&] { return started_.size() > count; })) {
            return std::nullopt;
        }
        return started_[count];
    }

    std::size_t blocks() {
        std::lock_guard guard(mutex_);
        return started_.size();
    }

  protected:
    void enqueue(std::function<void()> block) override {
        QtMainQueue::enqueue([this, block = std::move(block)] {
            {
                std::lock_guard guard(mutex_);
                started_.push_back(Clock::now());
            }
            changed_.notify_all();
            block();
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Clock::time_point> started_;
};

void printFigures(const char* what, std::vector<double> values) {
    if (values.empty()) {
        std::printf("  %-30s no press arrived\n", what);
        return;
    }
    std::sort(values.begin(), values.end());
    std::printf("  %-30s median %6.3f ms   p95 %6.3f ms   max %6.3f ms   (%zu presses)\n", what,
                values[values.size() / 2], values[values.size() * 95 / 100], values.back(),
                values.size());
}

// Presses and releases F13 through XTest and collects press → keyDown and release → keyUp.
void type(TimestampingQueue& queue, QCoreApplication& application) {
    Display* typist = XOpenDisplay(nullptr);
    std::vector<double> downs;
    std::vector<double> ups;
    if (typist != nullptr) {
        for (int press = 0; press < kPresses; ++press) {
            for (const bool down : {true, false}) {
                const std::size_t before = queue.blocks();
                const auto sent = Clock::now();
                XTestFakeKeyEvent(typist, kKeycodeF13, down ? True : False, CurrentTime);
                XFlush(typist);
                const auto arrived = queue.waitForBlock(before);
                if (arrived) {
                    const double ms =
                        std::chrono::duration<double, std::milli>(*arrived - sent).count();
                    (down ? downs : ups).push_back(ms);
                }
                std::this_thread::sleep_for(5ms);
            }
            // Apart enough that the engine sees separate clicks, not double clicks.
            std::this_thread::sleep_for(20ms);
        }
        XCloseDisplay(typist);
    }
    std::printf("trigger key (F13 through XTest, %d presses):\n", kPresses);
    printFigures("press -> keyDown on main", downs);
    printFigures("release -> keyUp on main", ups);
    QMetaObject::invokeMethod(&application, [&application] { application.quit(); });
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    auto queue = std::make_shared<TimestampingQueue>(&application);
    auto grab = std::make_shared<vurin::X11KeyGrab>();
    auto tap = vurin::EventTap::create(queue, grab);
    auto engine = vurin::GestureEngine::create(queue);
    tap->setEngine(engine);
    tap->setTapKeyCode(kMacKeyCodeF13);
    if (!tap->setupEventTap()) {
        std::printf("trigger_key: the F13 grab could not be set up (no X11 display?)\n");
        return 0;
    }
    std::thread typist([&] { type(*queue, application); });
    QCoreApplication::exec();
    typist.join();
    tap->stop();
    return 0;
}
