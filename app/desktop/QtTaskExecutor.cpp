// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop/QtTaskExecutor.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <utility>

namespace tessaril {

namespace {

// Network transfers are the slow work; a few may wait on slow servers at once.
constexpr std::size_t kBackgroundThreads = 4;

}  // namespace

QtTaskExecutor::~QtTaskExecutor() {
    {
        const std::scoped_lock lock(backgroundMutex_);
        stopping_ = true;
    }
    backgroundWork_.notify_all();
    // The work already handed over runs to its end; what it posts is dropped with mainThread_,
    // which goes after this.
    for (auto& worker : workers_)
        worker.join();
}

void QtTaskExecutor::runInBackground(Task work) {
    {
        const std::scoped_lock lock(backgroundMutex_);
        background_.push_back(std::move(work));
        if (background_.size() > idleWorkers_ && workers_.size() < kBackgroundThreads)
            workers_.emplace_back([this] { this->work(); });
    }
    backgroundWork_.notify_one();
}

void QtTaskExecutor::work() {
    std::unique_lock lock(backgroundMutex_);
    for (;;) {
        ++idleWorkers_;
        backgroundWork_.wait(lock, [this] { return stopping_ || !background_.empty(); });
        --idleWorkers_;
        if (background_.empty()) return;
        Task task = std::move(background_.front());
        background_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}

void QtTaskExecutor::postToMain(Task task) {
    std::unique_ptr<QEvent> wakeUp;
    {
        const std::scoped_lock lock(postedMutex_);
        // One wake-up for a run of posts, queued after the events already waiting. It is made under
        // the lock so that the main thread, which takes the lock before Qt frees the event, is seen
        // to come after its making.
        if (posted_.empty()) wakeUp = std::make_unique<QEvent>(QEvent::User);
        posted_.push_back(std::move(task));
    }
    if (wakeUp) QCoreApplication::postEvent(&waker_, wakeUp.release());
}

bool QtTaskExecutor::Waker::event(QEvent* event) {
    // Runs before anything reads the event: only the mutex taken here orders this thread after the
    // one that made it.
    executor_.runPosted();
    return QObject::event(event);
}

void QtTaskExecutor::runPosted() {
    std::deque<Task> tasks;
    {
        const std::scoped_lock lock(postedMutex_);
        tasks.swap(posted_);
    }
    for (Task& task : tasks)
        task();
}

ScopedConnection QtTaskExecutor::scheduleRepeating(std::chrono::milliseconds interval, Task tick) {
    auto* timer = new QTimer(&mainThread_);
    timer->setInterval(interval);
    QObject::connect(timer, &QTimer::timeout, timer, std::move(tick));
    timer->start();
    // The executor may go first and take the timer with it; a tick may drop its own connection, so
    // the timer stops at once and goes once its signal is done.
    return ScopedConnection([timer = QPointer<QTimer>(timer)] {
        if (timer.isNull()) return;
        timer->stop();
        timer->deleteLater();
    });
}

}  // namespace tessaril
