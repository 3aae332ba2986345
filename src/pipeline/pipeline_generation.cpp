#include "pipeline/pipeline_generation.h"

namespace vurin {

std::int64_t PipelineGeneration::invalidate() {
    std::lock_guard guard(lock_);
    return ++value_;
}

std::int64_t PipelineGeneration::current() const {
    std::lock_guard guard(lock_);
    return value_;
}

bool PipelineGeneration::isCurrent(std::int64_t generation) const {
    std::lock_guard guard(lock_);
    return value_ == generation;
}

}  // namespace vurin
