// SPDX-License-Identifier: GPL-3.0-or-later
// Two instances of the application on one private session bus (run-under-x11.sh starts one), each
// on a connection of its own as two processes would be.
#include "app/desktop/SingleInstance.h"
#include "tests/desktop/QtEventLoop.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace tessaril {
namespace {

using Claim = SingleInstance::Claim;

// A later instance blocks on its call to the running one, so it runs on a thread of its own while
// the running one answers from the main thread.
std::future<Claim> claimElsewhere(const QString& connectionName) {
    return std::async(std::launch::async, [connectionName] {
        Claim claim;
        {
            SingleInstance later({}, QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName));
            claim = later.claim();
        }
        QDBusConnection::disconnectFromBus(connectionName);
        return claim;
    });
}

TEST(SingleInstance, ALaterInstanceOpensTheRunningOnesPreferencesAndEnds) {
    int opened = 0;
    bool openedOnMain = false;
    const auto mainThread = std::this_thread::get_id();
    {
        SingleInstance running(
            [&] {
                ++opened;
                openedOnMain = std::this_thread::get_id() == mainThread;
            },
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("running")));
        ASSERT_EQ(running.claim(), Claim::First);

        auto later = claimElsewhere(QStringLiteral("later"));
        EXPECT_TRUE(eventually([&] { return later.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
        EXPECT_EQ(later.get(), Claim::AlreadyRunning);
        EXPECT_EQ(opened, 1);
        EXPECT_TRUE(openedOnMain);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("running"));

    // Once the running instance is gone, the next one runs.
    auto next = claimElsewhere(QStringLiteral("next"));
    EXPECT_EQ(next.get(), Claim::First);

    SingleInstance withoutBus({}, QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), "none"));
    EXPECT_EQ(withoutBus.claim(), Claim::Unenforced);
}

}  // namespace
}  // namespace tessaril
