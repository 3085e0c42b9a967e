// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"
#include "platform/defaults/SqliteUserDefaults.h"
#include "tests/support/TemporaryDirectory.h"

namespace tessaril {
namespace {

using Rules = std::vector<CustomBlockRule>;

CustomBlockRule global(std::string parameter) {
    return {std::move(parameter), std::nullopt};
}
CustomBlockRule onSite(std::string parameter, std::string site) {
    return {std::move(parameter), std::move(site)};
}

// A stored document with `count` global rules p0, p1, ...
std::string documentWithRules(std::size_t count, const std::string& extra = "") {
    std::string text = R"({"rules":[)";
    for (std::size_t i = 0; i < count; ++i)
        text += (i > 0 ? R"(,{"parameter":"p)" : R"({"parameter":"p)") + std::to_string(i) + R"("})";
    return text + "]" + extra + "}";
}

TEST(CustomBlocklistStoreTest, BlocksExactParameterAndHost) {
    EXPECT_TRUE(CustomBlockRule::validParameter("_x.y~z-1"));
    EXPECT_TRUE(CustomBlockRule::validParameter(std::string(64, 'a')));
    for (const std::string& refused : {std::string(65, 'a'), std::string(), std::string(".ref"), std::string("-ref"),
                                       std::string("a=b"), std::string("utm_*"), std::string("caf\xc3\xa9")})
        EXPECT_FALSE(CustomBlockRule::validParameter(refused)) << refused;

    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    ASSERT_FALSE(store.add("Ref"));
    ASSERT_FALSE(store.add("ref", "Shop.Example.com"));
    ASSERT_FALSE(store.add("id", "B\u00FCcher.example"));
    ASSERT_FALSE(store.add("id", "[2001:DB8::1]"));
    const std::pair<std::pair<const char*, const char*>, bool> lookups[] = {
        {{"Ref", ""}, true},
        {{"Ref", "anything.org"}, true},
        {{"REF", "anything.org"}, false},
        {{"ref", "SHOP.example.COM"}, true},
        {{"ref", "eu.shop.example.com"}, false},
        {{"ref", "www.shop.example.com"}, false},
        {{"ref", ""}, false},
        // A site in another spelling matches the host however the link writes it.
        {{"id", "xn--bcher-kva.example"}, true},
        {{"id", "b\u00FCcher.EXAMPLE"}, true},
        {{"id", "[2001:db8:0:0::1]"}, true},
        {{"id", "[2001:db8::2]"}, false},
    };
    for (const auto& [lookup, blocked] : lookups)
        EXPECT_EQ(store.blocks(lookup.first, lookup.second), blocked) << lookup.first << " on " << lookup.second;
    // blocks() reads the stored document, not the copy.
    defaults.remove(CustomBlocklistStore::storageKey);
    EXPECT_FALSE(store.blocks("Ref", ""));
}

TEST(CustomBlocklistStoreTest, DuplicatesGlobalReplacementAndUndo) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    EXPECT_EQ(store.undo(), CustomBlockError::noUndo);
    ASSERT_FALSE(store.add("a"));
    ASSERT_FALSE(store.add("ref", "one.com"));
    ASSERT_FALSE(store.add("ref", "two.com"));
    ASSERT_FALSE(store.add("z"));
    EXPECT_EQ(store.add("ref", "ONE.com"), CustomBlockError::duplicate);
    EXPECT_EQ(store.add("a", "one.com"), CustomBlockError::duplicate);
    EXPECT_EQ(store.add("a=", "one.com"), CustomBlockError::invalidParameter);
    EXPECT_EQ(store.add("b", "one.com:80"), CustomBlockError::invalidSite);

    const Rules before{global("a"), onSite("ref", "one.com"), onSite("ref", "two.com"), global("z")};
    ASSERT_EQ(store.rules(), before);
    // A global rule takes the place of the same parameter's site rules.
    ASSERT_FALSE(store.add("ref"));
    EXPECT_EQ(store.rules(), (Rules{global("a"), global("z"), global("ref")}));
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
    EXPECT_EQ(
        defaults.dataText(CustomBlocklistStore::storageKey),
        R"({"rules":[{"parameter":"a"},{"parameter":"ref","site":"one.com"},{"parameter":"ref","site":"two.com"}],)"
        R"("previous":[{"parameter":"a"},{"parameter":"ref","site":"one.com"},{"parameter":"ref","site":"two.com"},)"
        R"({"parameter":"z"}]})");
}

TEST(CustomBlocklistStoreTest, LimitIsExactly256Rules) {
    InMemoryUserDefaults defaults;
    defaults.setDataText(CustomBlocklistStore::storageKey, documentWithRules(254));
    CustomBlocklistStore store(defaults);
    ASSERT_FALSE(store.add("ref", "one.com"));
    ASSERT_FALSE(store.add("last"));
    EXPECT_EQ(store.add("more"), CustomBlockError::limit);
    EXPECT_EQ(store.add("more", "one.com"), CustomBlockError::limit);
    EXPECT_FALSE(store.blocks("more", ""));
    // A global rule that takes the place of a site rule keeps the count at 256.
    ASSERT_FALSE(store.add("ref"));
    EXPECT_EQ(store.rules().size(), 256U);
}

TEST(CustomBlocklistStoreTest, UnusableStoredDocumentsReadAsEmpty) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    const std::string validPrevious = R"(,"previous":[{"parameter":"old"}])";
    const auto readsAsEmpty = [&](const std::string& document) {
        defaults.setDataText(CustomBlocklistStore::storageKey, document);
        store.refresh();
        return store.rules().empty() && !store.canUndo() && !store.blocks("p0", "");
    };
    // Up to 131,072 bytes are read (trailing blanks are still JSON); one byte more is not.
    std::string longest = documentWithRules(1, validPrevious);
    longest.resize(CustomBlocklistStore::maximumDocumentBytes, ' ');
    EXPECT_FALSE(readsAsEmpty(longest));
    for (const std::string& unusable : {
             std::string("not json"),
             longest + " ",
             documentWithRules(257),
             std::string(R"([{"parameter":"p0"}])"),
             std::string(R"({"previous":[]})"),
             std::string(R"({"rules":[{"parameter":"p0"},{"parameter":"p0"}]})"),
             std::string(R"({"rules":[{"parameter":"p0"},{"parameter":"a b"}]})"),
             std::string(R"({"rules":[{"parameter":"p0"},{"parameter":"x","site":"A.com"}]})"),
             std::string(R"({"rules":[{"parameter":"p0"}],"previous":[{"parameter":"-x"}]})"),
             std::string(R"({"rules":[{"parameter":"p0"}],"previous":{}})"),
         })
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
// it; the stored list is left alone.
TEST(CustomBlocklistStoreTest, ConflictBetweenConnectionsToOneFile) {
    testing::TemporaryDirectory directory;
    const auto file = directory.path() / "defaults.sqlite3";
    auto firstConnection = SqliteUserDefaults::open(file);
    auto secondConnection = SqliteUserDefaults::open(file);
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
    EXPECT_TRUE(other.blocks("mine", ""));
    ASSERT_FALSE(other.add("again"));
    EXPECT_EQ(stale.undo(), CustomBlockError::conflict);
    EXPECT_EQ(stale.rules(), (Rules{global("mine"), global("again")}));

    // Invalid input is refused before the stored list is even looked at, so the copy stays stale.
    other.refresh();
    ASSERT_FALSE(other.add("third"));
    EXPECT_EQ(stale.add(" bad"), CustomBlockError::invalidParameter);
    EXPECT_EQ(stale.add("ok", "http://a.com"), CustomBlockError::invalidSite);
    EXPECT_EQ(stale.add("ok"), CustomBlockError::conflict);
}

}  // namespace
}  // namespace tessaril
