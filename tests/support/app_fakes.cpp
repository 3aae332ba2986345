#include "support/app_fakes.h"

namespace vurin::testing {

void FakeRecorder::finish(std::optional<std::filesystem::path> file, double duration) {
    auto completion = std::move(completions.front());
    completions.erase(completions.begin());
    completion(std::move(file), duration);
}

}  // namespace vurin::testing
