// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/desktop/QtTaskExecutor.h"

#include <QPointer>
#include <QTimer>

#include <utility>

namespace tessaril {

namespace {

// Network transfers are the slow work; a few may wait on slow servers at once.
constexpr int kBackgroundThreads = 8;

}  // namespace

QtTaskExecutor::QtTaskExecutor() {
    pool_.setMaxThreadCount(kBackgroundThreads);
}

QtTaskExecutor::~QtTaskExecutor() {
    // Background work may still post to the main thread until it ends; what it posts is dropped
    // with mainThread_, which goes after this.
    pool_.waitForDone();
}

void QtTaskExecutor::runInBackground(Task work) {
    pool_.start(std::move(work));
}

void QtTaskExecutor::postToMain(Task task) {
    QMetaObject::invokeMethod(&mainThread_, std::move(task), Qt::QueuedConnection);
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
