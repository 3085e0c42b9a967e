// SPDX-License-Identifier: GPL-3.0-or-later
// A full disk under the preferences store: every write fails. What the user had stays on disk,
// the stores say so, and what still works keeps working.
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/ResourceBundle.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

namespace tessaril {
namespace {

namespace fs = std::filesystem;

// Reads pass through; every write fails, as on a disk with no space left.
class FullDiskUserDefaults final : public UserDefaults {
public:
    explicit FullDiskUserDefaults(std::unique_ptr<UserDefaults> store) : store_(std::move(store)) {}
    [[nodiscard]] std::optional<DefaultsValue> value(std::string_view key) const override { return store_->value(key); }
    bool set(std::string_view, DefaultsValue) override { return false; }
    void remove(std::string_view) override {}
    [[nodiscard]] std::unique_ptr<UserDefaults> suite(std::string_view name) override {
        return std::make_unique<FullDiskUserDefaults>(store_->suite(name));
    }
    void removeSuite(std::string_view) override {}
    // Nothing is ever written, so there is nothing to undo.
    bool transaction(const std::function<bool(UserDefaults&)>& body) override { return body(*this); }

private:
    std::unique_ptr<UserDefaults> store_;
};

// Every stored row, in a fixed order: what "nothing was lost" is checked against.
std::vector<std::string> rows(const fs::path& file) {
    std::vector<std::string> result;
    sqlite3* database = nullptr;
    if (sqlite3_open_v2(file.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_exec(
            database, "SELECT suite, key, type, quote(value) FROM defaults ORDER BY suite, key",
            [](void* context, int columns, char** values, char**) {
                std::string row;
                for (int i = 0; i < columns; ++i)
                    row += std::string(values[i] != nullptr ? values[i] : "NULL") + "|";
                static_cast<std::vector<std::string>*>(context)->push_back(row);
                return 0;
            },
            &result, nullptr);
    }
    sqlite3_close_v2(database);
    return result;
}

TEST(FullDiskTest, EditsFailAndTheStoredListsStayAsTheyWere) {
    testing::TemporaryDirectory folder;
    const fs::path file = folder.path() / "defaults.sqlite3";
    const ResourceBundle bundle(fs::path(TESSARIL_SOURCE_DIR) / "resources/Tessaril_TessarilCore.bundle");
    {
        auto store = SqliteUserDefaults::open(file);
        CustomBlocklistStore blocklist(*store);
        ASSERT_FALSE(blocklist.add("mytag"));
        ASSERT_FALSE(blocklist.add("other", "example.com"));
        DomainExceptionStore exceptions(*store);
        ASSERT_EQ(exceptions.disable("skip.example"), std::nullopt);
        RulesEngine engine(*store, {&bundle, nullptr, [](std::string_view) {}});
        ASSERT_TRUE(engine.loadBundledRules());
        engine.addCustomRule("mine_x", "Mine", RuleCategoryType::custom);
    }
    const auto before = rows(file);
    ASSERT_GE(before.size(), 4U);

    FullDiskUserDefaults full(SqliteUserDefaults::open(file));
    CustomBlocklistStore blocklist(full);
    const auto listed = blocklist.rules();
    EXPECT_EQ(blocklist.add("new"), CustomBlockError::storeFailed);
    EXPECT_EQ(blocklist.remove(listed.front()), CustomBlockError::storeFailed);
    EXPECT_EQ(blocklist.undo(), CustomBlockError::storeFailed);
    // Nothing unsaved is shown, so the next edit is not taken for someone else's change.
    EXPECT_EQ(blocklist.rules(), listed);
    EXPECT_TRUE(blocklist.canUndo());

    // Site exceptions say so too, and show nothing that was not saved.
    DomainExceptionStore exceptions(full);
    EXPECT_EQ(exceptions.disable("new.example"), DomainExceptionError::storeFailed);
    EXPECT_FALSE(exceptions.isDisabled("new.example"));
    EXPECT_EQ(exceptions.enable("skip.example"), DomainExceptionError::storeFailed);
    EXPECT_TRUE(exceptions.isDisabled("skip.example"));

    // The engine keeps its switches and counts in memory; the user's custom rule is still there.
    RulesEngine engine(full, {&bundle, nullptr, [](std::string_view) {}});
    ASSERT_TRUE(engine.loadBundledRules());
    EXPECT_EQ(engine.categories().back()->rules().size(), 1U);
    engine.addCustomRule("more_x", "More", RuleCategoryType::custom);
    engine.removeCustomRule("Custom:mine_x");
    engine.categories().front()->setEnabled(false);
    engine.saveEnabledStates();
    // Cleaning goes on with every rule the user had.
    URLCleaner cleaner(engine, &exceptions);
    cleaner.setCustomBlocklist(&blocklist);
    EXPECT_EQ(cleaner.clean("https://example.com/?mytag=1&other=2&utm_source=x&id=3")->cleanedURL,
              "https://example.com/?id=3");
    EXPECT_EQ(cleaner.cleanWithOutcome("https://skip.example/?gclid=1").kind(), CleanOutcome::Kind::skippedDisabled);

    EXPECT_EQ(rows(file), before);
    // Once there is room again, everything the user had is read back.
    auto freed = SqliteUserDefaults::open(file);
    EXPECT_EQ(CustomBlocklistStore(*freed).rules(), listed);
    EXPECT_EQ(DomainExceptionStore(*freed).disabledDomains(), std::vector<DomainException>{{"skip.example"}});
}

}  // namespace
}  // namespace tessaril
