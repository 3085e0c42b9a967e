// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/foundation/TaskExecutor.h"

namespace tessaril::cli {

// The tool's main thread as an executor: background work gets a thread of its own, and what it
// posts back waits until the main thread runs the loop.
class MainLoop final : public TaskExecutor {
public:
    MainLoop() = default;
    MainLoop(const MainLoop&) = delete;
    MainLoop& operator=(const MainLoop&) = delete;
    // Waits for the background work to finish.
    ~MainLoop() override;

    void runInBackground(Task work) override;
    void postToMain(Task task) override;

    // Runs the posted tasks, waiting for more, until `done` holds after one of them.
    void runUntil(const std::function<bool()>& done);

private:
    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Task> tasks_;
};

}  // namespace tessaril::cli
