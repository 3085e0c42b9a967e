// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/UserDefaults.h"

#include <map>
#include <memory>
#include <string>

namespace tessaril {

// Preferences held in memory: the test double, and the store of a run that must not persist
// anything. Suites of one instance share their storage, as they do in a real store.
class InMemoryUserDefaults final : public UserDefaults {
public:
    InMemoryUserDefaults();

    [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override;
    bool set(std::string_view key, DefaultsValue value) override;
    void remove(std::string_view key) override;
    [[nodiscard]] std::unique_ptr<UserDefaults> suite(std::string_view name) override;
    void removeSuite(std::string_view name) override;

    // Makes every later write fail, as a full disk or a read-only folder would.
    void setWritable(bool writable);

private:
    using Domain = std::map<std::string, DefaultsValue, std::less<>>;
    struct Storage {
        std::map<std::string, Domain, std::less<>> suites;
        bool writable = true;
    };
    InMemoryUserDefaults(std::shared_ptr<Storage> storage, std::string suiteName);

    std::shared_ptr<Storage> storage_;
    std::string suiteName_;
};

}  // namespace tessaril
