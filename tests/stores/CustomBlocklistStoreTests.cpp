// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <utility>

#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/OverlayUserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/CaseTable.h"
#include "tests/support/TemporaryDirectory.h"

namespace tessaril {
namespace {

using Rules = std::vector<CustomBlockRule>;

CustomBlockRule global(std::string parameter) {
    return {std::move(parameter), std::nullopt};
}

// A stored document with `count` global rules p0, p1, ...
std::string documentWithRules(std::size_t count, const std::string& extra = "") {
    std::string text = R"({"rules":[)";
    for (std::size_t i = 0; i < count; ++i)
        text += (i > 0 ? R"(,{"parameter":"p)" : R"({"parameter":"p)") + std::to_string(i) + R"("})";
    return text + "]" + extra + "}";
}

TEST(CustomBlocklistStoreTest, BlocksExactParameterAndHost) {
    for (const std::string& refused : {std::string(65, 'a'), std::string(".ref"), std::string("a=b"),
                                       std::string("utm_*"), std::string("caf\xc3\xa9")})
        EXPECT_FALSE(CustomBlockRule::validParameter(refused)) << refused;
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    const auto table = testing::readCases("stores/blocked-parameters.json");
    ASSERT_EQ(table.size(), 2U);
    for (const auto& rule : table[0]) {
        const auto site = rule[1].is_null() ? std::nullopt : std::optional(rule[1].get<std::string>());
        ASSERT_FALSE(store.add(rule[0].get<std::string>(), site)) << rule;
    }
    for (const auto& row : table[1])
        EXPECT_EQ(store.blocks(row[0].get<std::string>(), row[1].get<std::string>()), row[2]) << row;
    // blocks() reads the stored document, not the copy.
    defaults.remove(CustomBlocklistStore::storageKey);
    EXPECT_FALSE(store.blocks("Ref", ""));
}

// (A repeated site rule, a bad name or site and an empty undo are refused by the tool's blocklist
// test, each with its message.)
TEST(CustomBlocklistStoreTest, DuplicatesGlobalReplacementUndoAndLimit) {
    InMemoryUserDefaults defaults;
    defaults.setDataText(CustomBlocklistStore::storageKey, documentWithRules(252));
    CustomBlocklistStore store(defaults);
    ASSERT_FALSE(store.add("ref", "one.com"));
    ASSERT_FALSE(store.add("ref", "two.com"));
    ASSERT_FALSE(store.add("z"));
    EXPECT_EQ(store.add("p0", "one.com"), CustomBlockError::duplicate);  // a global rule covers every site
    ASSERT_FALSE(store.add("last"));
    EXPECT_EQ(store.add("more"), CustomBlockError::limit);  // 256 rules at most
    EXPECT_EQ(store.add("more", "one.com"), CustomBlockError::limit);

    // A global rule takes the place of the same parameter's site rules.
    const Rules before = store.rules();
    ASSERT_FALSE(store.add("ref"));
    EXPECT_EQ(store.rules().size(), 255U);
    EXPECT_EQ(store.rules().back(), global("ref"));
    ASSERT_FALSE(store.undo());
    EXPECT_EQ(store.rules(), before);
    EXPECT_EQ(store.undo(), CustomBlockError::noUndo);
    // Removing something absent is a silent no-op that keeps the undo state either way.
    ASSERT_FALSE(store.remove(global("absent")));
    EXPECT_FALSE(store.canUndo());
    ASSERT_FALSE(store.remove(global("z")));
    ASSERT_FALSE(store.remove(global("z")));
    EXPECT_TRUE(store.canUndo());
    // The stored document is the one the copy shows, with the undo list beside it.
    const auto stored = nlohmann::json::parse(defaults.dataText(CustomBlocklistStore::storageKey).value_or("{}"));
    EXPECT_EQ(stored["rules"].size(), store.rules().size());
    EXPECT_EQ(stored["previous"].size(), store.rules().size() + 1);
}

TEST(CustomBlocklistStoreTest, UnusableStoredDocumentsReadAsEmpty) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    const auto readsAsEmpty = [&](const std::string& document) {
        defaults.setDataText(CustomBlocklistStore::storageKey, document);
        store.refresh();
        return store.rules().empty() && !store.canUndo() && !store.blocks("p0", "");
    };
    // Up to 131,072 bytes are read (trailing blanks are still JSON); one byte more is not.
    std::string longest = documentWithRules(1, R"(,"previous":[{"parameter":"old"}])");
    longest.resize(CustomBlocklistStore::maximumDocumentBytes, ' ');
    EXPECT_FALSE(readsAsEmpty(longest));
    for (const std::string& unusable :
         {std::string("not json"), longest + " ", documentWithRules(257), std::string(R"([{"parameter":"p0"}])"),
          std::string(R"({"previous":[]})"), std::string(R"({"rules":[{"parameter":"p0"},{"parameter":"p0"}]})"),
          std::string(R"({"rules":[{"parameter":"p0"},{"parameter":"a b"}]})"),
          std::string(R"({"rules":[{"parameter":"p0"},{"parameter":"x","site":"A.com"}]})"),
          std::string(R"({"rules":[{"parameter":"p0"}],"previous":[{"parameter":"-x"}]})"),
          std::string(R"({"rules":[{"parameter":"p0"}],"previous":{}})")})
        EXPECT_TRUE(readsAsEmpty(unusable)) << unusable.substr(0, 80);
    defaults.set(CustomBlocklistStore::storageKey, std::string(R"({"rules":[{"parameter":"p0"}]})"));
    store.refresh();
    EXPECT_TRUE(store.rules().empty());
    // Not repaired on reading; the next edit replaces it, and undo goes back to an empty list.
    ASSERT_FALSE(store.add("fresh"));
    EXPECT_EQ(store.rules(), Rules{global("fresh")});
    ASSERT_FALSE(store.undo());
    EXPECT_TRUE(store.rules().empty());
}

// Every edit through a stale copy (another connection changed the file) is refused and refreshes
// it; the stored list is left alone. Invalid input is refused before the stored list is looked at.
TEST(CustomBlocklistStoreTest, ConflictBetweenConnectionsToOneFile) {
    testing::TemporaryDirectory directory;
    auto firstConnection = SqliteUserDefaults::open(directory.path() / "defaults.sqlite3");
    auto secondConnection = SqliteUserDefaults::open(directory.path() / "defaults.sqlite3");
    CustomBlocklistStore stale(*firstConnection);
    CustomBlocklistStore other(*secondConnection);
    ASSERT_FALSE(other.add("theirs"));
    int published = 0;
    auto connection = stale.rulesChanged().connect([&] { ++published; });
    EXPECT_EQ(stale.add("mine"), CustomBlockError::conflict);
    EXPECT_EQ(stale.rules(), Rules{global("theirs")});
    EXPECT_EQ(published, 1);
    ASSERT_FALSE(stale.add("mine"));  // fresh now, so the same edit goes through

    other.refresh();
    ASSERT_FALSE(other.remove(global("theirs")));
    EXPECT_EQ(stale.remove(global("mine")), CustomBlockError::conflict);
    ASSERT_FALSE(other.add("again"));
    EXPECT_EQ(stale.undo(), CustomBlockError::conflict);
    EXPECT_EQ(stale.rules(), (Rules{global("mine"), global("again")}));
    EXPECT_EQ(stale.add(" bad"), CustomBlockError::invalidParameter);
    EXPECT_EQ(stale.add("ok", "http://a.com"), CustomBlockError::invalidSite);
    ASSERT_FALSE(other.add("third"));
    EXPECT_EQ(stale.add("ok"), CustomBlockError::conflict);
}

// The snapshot a link is cleaned with is kept while the store's change count stands still; an edit
// through a second handle on the same store (another suite object, an overlay, another connection)
// must still show at the next look, and so must an undone transaction.
TEST(CustomBlocklistStoreTest, SnapshotSeesChangesFromAnotherHandle) {
    testing::TemporaryDirectory directory;
    InMemoryUserDefaults memory;
    OverlayUserDefaults live(memory);
    OverlayUserDefaults snapshot(memory, OverlayUserDefaults::BaseReads::snapshot);
    auto file = SqliteUserDefaults::open(directory.path() / "defaults.sqlite3");
    auto otherFile = SqliteUserDefaults::open(directory.path() / "defaults.sqlite3");
    auto otherMemory = memory.suite("");
    auto otherSnapshot = snapshot.suite("");
    const std::vector<std::pair<UserDefaults*, UserDefaults*>> handles{{&memory, otherMemory.get()},
                                                                       {&live, &memory},
                                                                       {&snapshot, otherSnapshot.get()},
                                                                       {file.get(), otherFile.get()}};
    for (const auto& [reader, writer] : handles) {
        CustomBlocklistStore reading(*reader);
        CustomBlocklistStore writing(*writer);
        EXPECT_FALSE(reading.snapshot()->blocks("p", ""));
        ASSERT_FALSE(writing.add("p"));
        EXPECT_TRUE(reading.snapshot()->blocks("p", ""));
        ASSERT_FALSE(writing.remove(global("p")));
        EXPECT_FALSE(reading.snapshot()->blocks("p", ""));
        (void)writer->transaction([&](UserDefaults& store) {
            store.setDataText(CustomBlocklistStore::storageKey, documentWithRules(1));
            (void)reading.snapshot();  // in memory, sees "p0" (another connection does not)
            return false;
        });
        EXPECT_FALSE(reading.snapshot()->blocks("p0", ""));
    }
}

}  // namespace
}  // namespace tessaril
