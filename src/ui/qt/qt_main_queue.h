#pragma once

#include <QObject>
#include <QPointer>

#include "platform/main_queue.h"

namespace vurin {

// The main queue on Qt's event loop. `context` is an object that lives on the main thread for
// as long as the loop runs (the application object).
class QtMainQueue : public MainQueue {
  public:
    explicit QtMainQueue(QObject* context) : context_(context) {}

    bool isMainThread() const override;
    double now() const override;

  protected:
    void enqueue(std::function<void()> block) override;
    void postDelayed(double seconds, std::function<void()> block) override;

  private:
    QPointer<QObject> context_;
};

}  // namespace vurin
