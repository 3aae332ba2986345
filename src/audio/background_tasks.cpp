#include "audio/background_tasks.h"

#include <algorithm>
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
    std::thread thread([task = std::move(task), done, finished = finished_] {
        task();
        {
            std::lock_guard guard(finished->mutex);
            done->store(true);
        }
        finished->returned.notify_all();
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

bool BackgroundTasks::waitAllFor(std::chrono::milliseconds limit) {
    std::vector<Task> tasks;
    {
        std::lock_guard guard(mutex_);
        tasks.swap(tasks_);
    }
    const auto ended = [](const Task& task) {
        return task.done->load() || task.thread.get_id() == std::this_thread::get_id();
    };
    {
        std::unique_lock lock(finished_->mutex);
        finished_->returned.wait_for(
            lock, limit, [&] { return std::all_of(tasks.begin(), tasks.end(), ended); });
    }
    std::vector<Task> running;
    for (auto& task : tasks) {
        if (ended(task)) {
            finish(task.thread);
        } else {
            running.push_back(std::move(task));
        }
    }
    const bool all = running.empty();
    std::lock_guard guard(mutex_);
    for (auto& task : running) {
        tasks_.push_back(std::move(task));
    }
    return all;
}

}  // namespace vurin
