// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/MainLoop.h"

#include <utility>

namespace tessaril::cli {

MainLoop::~MainLoop() {
    for (auto& worker : workers_)
        worker.join();
}

void MainLoop::runInBackground(Task work) {
    workers_.emplace_back(std::move(work));
}

void MainLoop::postToMain(Task task) {
    {
        const std::scoped_lock lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_one();
}

void MainLoop::runUntil(const std::function<bool()>& done) {
    while (!done()) {
        Task task;
        {
            std::unique_lock lock(mutex_);
            posted_.wait(lock, [this] { return !tasks_.empty(); });
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

}  // namespace tessaril::cli
