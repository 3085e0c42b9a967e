// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/Signal.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace tessaril {
namespace {

// Slots run in the order they were connected, until disconnected or out of scope; a slot may
// disconnect itself while it runs, and a connection may outlive its signal.
TEST(Signal, DeliversInConnectionOrderUntilDisconnected) {
    ScopedConnection outliving;
    std::vector<int> seen;
    {
        Signal<int> changed;
        auto first = changed.connect([&](int v) { seen.push_back(v); });
        std::optional<ScopedConnection> second = changed.connect([&](int v) { seen.push_back(v * 10); });
        std::optional<ScopedConnection> once;
        once = changed.connect([&](int v) {
            seen.push_back(v * 100);
            once->disconnect();
        });
        changed.emit(1);
        second.reset();
        changed.emit(2);
        EXPECT_EQ(changed.connectionCount(), 1U);
        outliving = changed.connect([](int) {});
    }
    EXPECT_EQ(seen, (std::vector<int>{1, 10, 100, 2}));
    outliving.disconnect();
}

}  // namespace
}  // namespace tessaril
