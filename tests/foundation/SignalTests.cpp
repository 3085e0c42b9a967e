// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Signal.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace tessaril {
namespace {

TEST(Signal, DeliversInConnectionOrderUntilDisconnected) {
    Signal<int> changed;
    std::vector<int> seen;
    auto first = changed.connect([&](int v) { seen.push_back(v); });
    auto second = changed.connect([&](int v) { seen.push_back(v * 10); });
    changed.emit(1);
    second.disconnect();
    changed.emit(2);
    EXPECT_EQ(seen, (std::vector<int>{1, 10, 2}));
    EXPECT_EQ(changed.connectionCount(), 1U);
}

TEST(Signal, ScopeEndsConnectionAndSlotsMayDisconnectDuringEmit) {
    Signal<> fired;
    int count = 0;
    {
        auto scoped = fired.connect([&] { ++count; });
        fired.emit();
    }
    fired.emit();
    EXPECT_EQ(count, 1);

    std::optional<ScopedConnection> self;
    int selfCount = 0;
    self = fired.connect([&] {
        ++selfCount;
        self->disconnect();
    });
    fired.emit();
    fired.emit();
    EXPECT_EQ(selfCount, 1);
}

TEST(Signal, ConnectionOutlivingSignalIsHarmless) {
    ScopedConnection connection;
    {
        Signal<> shortLived;
        connection = shortLived.connect([] {});
    }
    connection.disconnect();
    SUCCEED();
}

}  // namespace
}  // namespace tessaril
