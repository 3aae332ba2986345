#include "ui/qt/qt_main_queue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <chrono>
#include <cmath>

namespace vurin {

void QtMainQueue::enqueue(std::function<void()> block) {
    if (!context_) {
        return;
    }
    QMetaObject::invokeMethod(context_.data(), std::move(block), Qt::QueuedConnection);
}

bool QtMainQueue::isMainThread() const {
    return context_ && QThread::currentThread() == context_->thread();
}

double QtMainQueue::now() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void QtMainQueue::postDelayed(double seconds, std::function<void()> block) {
    const int milliseconds = static_cast<int>(std::lround(std::max(0.0, seconds) * 1000.0));
    // A timer belongs to the thread that starts it, so timers are always started on the main
    // thread; the 0.12 s paste confirmation needs a precise one.
    auto arm = [context = context_, milliseconds, block = std::move(block)]() mutable {
        if (context) {
            QTimer::singleShot(milliseconds, Qt::PreciseTimer, context.data(), std::move(block));
        }
    };
    if (isMainThread()) {
        arm();
    } else {
        enqueue(std::move(arm));
    }
}

}  // namespace vurin
