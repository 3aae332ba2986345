#pragma once

#include <algorithm>
#include <chrono>

namespace vurin {

// The wait before the next try to reach a compositor again: one that restarts takes a moment to
// listen, so each failed try waits twice as long as the one before, up to 4 s.
class ReconnectWait {
  public:
    std::chrono::milliseconds current() const { return wait_; }
    void failed() { wait_ = std::min(wait_ * 2, kLongest); }
    void succeeded() { wait_ = kFirst; }

  private:
    static constexpr std::chrono::milliseconds kFirst{250};
    static constexpr std::chrono::milliseconds kLongest{4000};
    std::chrono::milliseconds wait_ = kFirst;
};

}  // namespace vurin
