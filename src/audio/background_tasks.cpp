#include "audio/background_tasks.h"

#include <utility>

namespace vurin {

namespace {

void finish(std::thread& thread) {
    if (!thread.joinable()) {
        return;
    }
    if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
    } else {
        thread.join();
    }
}

}  // namespace

void BackgroundTasks::run(std::function<void()> task) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([task = std::move(task), done] {
        task();
        done->store(true);
    });
    std::lock_guard guard(mutex_);
    // Reap tasks that have returned, so a long-running process keeps no pile of dead threads.
    std::erase_if(tasks_, [](Task& old) {
        if (!old.done->load()) {
            return false;
        }
        finish(old.thread);
        return true;
    });
    tasks_.push_back({std::move(thread), std::move(done)});
}

void BackgroundTasks::waitAll() {
    std::vector<Task> tasks;
    {
        std::lock_guard guard(mutex_);
        tasks.swap(tasks_);
    }
    for (auto& task : tasks) {
        finish(task.thread);
    }
}

}  // namespace vurin
