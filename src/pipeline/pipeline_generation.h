#pragma once

#include <cstdint>
#include <mutex>

namespace vurin {

// Says which dictation job is still wanted. A job remembers the value current when it was
// created; once the counter has moved on, the job is stale and must neither inject text nor
// write history. Every operation may be called from any thread.
class PipelineGeneration {
  public:
    PipelineGeneration() = default;
    PipelineGeneration(const PipelineGeneration&) = delete;
    PipelineGeneration& operator=(const PipelineGeneration&) = delete;

    // Makes every value handed out so far stale; returns the new current value.
    std::int64_t invalidate();
    std::int64_t current() const;
    bool isCurrent(std::int64_t generation) const;

  private:
    mutable std::mutex lock_;
    std::int64_t value_ = 0;
};

}  // namespace vurin
