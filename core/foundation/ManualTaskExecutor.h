// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/TaskExecutor.h"

#include <cstddef>
#include <deque>

namespace tessaril {

// An executor for tests that runs nothing until the test says so, and then on the test's thread:
// background work and main-thread tasks wait in two queues, so a test can stop between the two and
// see that no result arrived before the main thread took it.
class ManualTaskExecutor final : public TaskExecutor {
public:
    void runInBackground(Task work) override { background_.push_back(std::move(work)); }
    void postToMain(Task task) override { main_.push_back(std::move(task)); }

    // Each runs its queue, and what that queues in turn, until it is empty, and says how many ran.
    std::size_t runBackgroundWork() { return drain(background_); }
    std::size_t runMainTasks() { return drain(main_); }

private:
    static std::size_t drain(std::deque<Task>& queue) {
        std::size_t ran = 0;
        for (; !queue.empty(); ++ran) {
            Task task = std::move(queue.front());
            queue.pop_front();
            task();
        }
        return ran;
    }

    std::deque<Task> background_;
    std::deque<Task> main_;
};

}  // namespace tessaril
