// SPDX-License-Identifier: GPL-3.0-or-later
// What the blocklist and the site exceptions share: one rule for host names, what they do when the
// store cannot be written, and use from several threads and connections at once (these also run
// under ThreadSanitizer, `make test-tsan`, which is what finds the races).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/CaseTable.h"
#include "tests/support/TemporaryDirectory.h"

namespace tessaril {
namespace {

using namespace std::chrono_literals;

// The host rule blocklist sites and site exceptions share: which names it takes, in which form. That
// both accept exactly the same names in the same form (exceptions also trim blanks and drop a
// leading "www."), fuzz/HostNameFuzzer.cpp checks on any text.
TEST(StoresTest, SitesAndExceptionsShareOneHostRule) {
    const auto cases = testing::readCases("stores/host-names.json");
    ASSERT_GT(cases.size(), 30U);
    for (const auto& row : cases) {
        const std::string text = row[0];
        EXPECT_EQ(CustomBlockRule::canonicalSite(text),
                  row[1].is_null() ? std::nullopt : std::optional(row[1].get<std::string>()))
            << text;
    }
    // A byte that is no UTF-8 (which a JSON table cannot hold) is no host either.
    EXPECT_EQ(CustomBlockRule::canonicalSite("\xff.com"), std::nullopt);
}

// Reads pass through; every write fails, inside a transaction too, as on a disk with no space left.
class FullDiskUserDefaults final : public UserDefaults {
public:
    [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override { return store.value(key); }
    bool set(std::string_view, DefaultsValue) override { return false; }
    void remove(std::string_view) override {}
    [[nodiscard]] std::unique_ptr<UserDefaults> suite(std::string_view) override {
        return std::make_unique<FullDiskUserDefaults>();
    }
    void removeSuite(std::string_view) override {}
    bool transaction(const std::function<bool(UserDefaults&)>& body) override { return body(*this); }

    InMemoryUserDefaults store;
};

// Every edit says it was not saved, nothing unsaved is shown (or the next edit would be taken for
// someone else's change), and links are still cleaned with everything the user had.
TEST(StoresTest, FullDiskRefusesEditsAndCleaningGoesOn) {
    FullDiskUserDefaults full;
    ASSERT_FALSE(CustomBlocklistStore(full.store).add("mytag"));
    ASSERT_FALSE(CustomBlocklistStore(full.store).add("other", "example.com"));
    ASSERT_EQ(DomainExceptionStore(full.store).disable("skip.example"), std::nullopt);
    RulesEngine writer(full.store, {nullptr, nullptr, [](std::string_view) {}});
    ASSERT_TRUE(writer.loadRules(R"({"providers":{}})"));
    writer.addCustomRule("mine_x", "Mine", RuleCategoryType::custom);

    CustomBlocklistStore blocklist(full);
    DomainExceptionStore exceptions(full);
    int published = 0;
    auto blocklistChanged = blocklist.rulesChanged().connect([&] { ++published; });
    auto exceptionsChanged = exceptions.disabledDomainsChanged().connect([&] { ++published; });
    const auto listed = blocklist.rules();
    EXPECT_EQ(blocklist.add("new"), CustomBlockError::storeFailed);
    EXPECT_EQ(blocklist.remove(listed.front()), CustomBlockError::storeFailed);
    EXPECT_EQ(blocklist.rules(), listed);
    EXPECT_EQ(exceptions.disable("new.example"), DomainExceptionError::storeFailed);
    EXPECT_EQ(exceptions.enable("skip.example"), DomainExceptionError::storeFailed);
    EXPECT_EQ(exceptions.disableURL("https://lost.com/"),
              (DomainExceptionStore::LinkEdit{"lost.com", DomainExceptionError::storeFailed}));
    EXPECT_EQ(exceptions.disabledDomains(), std::vector<DomainException>{{"skip.example"}});
    EXPECT_EQ(published, 0);

    RulesEngine engine(full, {nullptr, nullptr, [](std::string_view) {}});
    ASSERT_TRUE(engine.loadRules(R"({"providers":{}})"));
    // The user's custom rule is read back; an edit the store refuses is kept in memory.
    EXPECT_EQ(engine.categories().back()->rules().size(), 1U);
    engine.addCustomRule("more_x", "More", RuleCategoryType::custom);
    URLCleaner cleaner(engine, &exceptions);
    cleaner.setCustomBlocklist(&blocklist);
    EXPECT_EQ(cleaner.clean("https://example.com/?mytag=1&other=2&utm_source=x&mine_x=4&more_x=5&id=3")
                  .value_or(CleanResult{})
                  .cleanedURL,
              "https://example.com/?id=3");
    EXPECT_EQ(cleaner.cleanWithOutcome("https://skip.example/?gclid=1").kind(), CleanOutcome::Kind::skippedDisabled);
}

// Blocklist editors on connections of their own and exception writers on a shared one, while
// cleaners on engines of their own clean with the shared stores: no edit is lost, and a reader
// only ever sees whole documents, so what it found once it keeps finding. An editor's conflict
// refreshes its list, and its listener reads the list again under the same lock.
TEST(StoresTest, ConcurrentEditsWhileCleanersRead) {
    testing::TemporaryDirectory folder;
    const auto file = folder.path() / "defaults.sqlite3";
    auto shared = SqliteUserDefaults::open(file, {.busyTimeout = 10s});
    DomainExceptionStore exceptions(*shared);
    CustomBlocklistStore blocklist(*shared);
    std::atomic<int> changes{0};
    auto counted = exceptions.disabledDomainsChanged().connect([&] { ++changes; });
    constexpr int kEdits = 25;
    std::atomic<int> editing{4};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 2; ++t) {
            threads.emplace_back([&, t] {
                auto store = SqliteUserDefaults::open(file, {.busyTimeout = 10s});
                CustomBlocklistStore own(*store);
                auto reread = own.rulesChanged().connect([&own] { (void)own.rules(); });
                for (int i = 0; i < kEdits; ++i) {
                    const std::string name = "e" + std::to_string(t) + "_" + std::to_string(i);
                    std::optional<CustomBlockError> error;
                    while ((error = own.add(name)) == CustomBlockError::conflict) {
                    }
                    EXPECT_EQ(error, std::nullopt) << name;
                }
                --editing;
            });
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEdits; ++i) {
                    const std::string host = "site" + std::to_string(t) + "-" + std::to_string(i) + ".example";
                    EXPECT_EQ(exceptions.disable(host), std::nullopt);
                }
                --editing;
            });
            threads.emplace_back([&] {
                InMemoryUserDefaults own;
                RulesEngine engine(own, {nullptr, nullptr, [](std::string_view) {}});
                ASSERT_TRUE(engine.loadRules(R"({"providers":{}})"));
                URLCleaner cleaner(engine, &exceptions);
                cleaner.setCustomBlocklist(&blocklist);
                bool blocked = false;
                bool excepted = false;
                while (editing > 0) {
                    const auto result = cleaner.clean("https://example.com/?e0_0=1&id=1");
                    const bool nowBlocked = result && result->cleanedURL == "https://example.com/?id=1";
                    const bool nowExcepted = cleaner.cleanWithOutcome("https://site0-0.example/?utm_source=x").kind() ==
                                             CleanOutcome::Kind::skippedDisabled;
                    EXPECT_TRUE((nowBlocked || !blocked) && (nowExcepted || !excepted));
                    blocked = blocked || nowBlocked;
                    excepted = excepted || nowExcepted;
                }
            });
        }
    }
    EXPECT_EQ(changes.load(), 2 * kEdits);
    auto reopened = SqliteUserDefaults::open(file);
    EXPECT_EQ(CustomBlocklistStore(*reopened).rules().size(), 2U * kEdits);
    EXPECT_EQ(DomainExceptionStore(*reopened).disabledDomains().size(), 2U * kEdits);
}

}  // namespace
}  // namespace tessaril
