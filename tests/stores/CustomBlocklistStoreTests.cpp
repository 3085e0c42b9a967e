// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <variant>

#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stores/CustomBlocklistStore.h"
#include "core/stores/DomainExceptionStore.h"
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
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) text += ',';
        text += R"({"parameter":"p)" + std::to_string(i) + R"("})";
    }
    return text + "]" + extra + "}";
}

TEST(CustomBlockRuleTest, ParameterNamesAndCanonicalSites) {
    EXPECT_TRUE(CustomBlockRule::validParameter("_x.y~z-1"));
    EXPECT_TRUE(CustomBlockRule::validParameter(std::string(64, 'a')));
    for (const std::string& refused :
         {std::string(65, 'a'), std::string(), std::string(".ref"), std::string("-ref"), std::string("a b"),
          std::string("a=b"), std::string("utm_*"), std::string("caf\xc3\xa9")})
        EXPECT_FALSE(CustomBlockRule::validParameter(refused)) << refused;

    EXPECT_EQ(CustomBlockRule::canonicalSite("WWW.Example.COM"), "www.example.com");
    EXPECT_FALSE(CustomBlockRule::canonicalSite(" example.com"));
    const std::string label63(63, 'a');
    EXPECT_FALSE(CustomBlockRule::canonicalSite(label63 + "a.com"));
    // 253 characters is the longest host name.
    const std::string name253 = label63 + "." + label63 + "." + label63 + "." + std::string(61, 'b');
    EXPECT_TRUE(CustomBlockRule::canonicalSite(name253));
    EXPECT_FALSE(CustomBlockRule::canonicalSite(name253 + "b"));
}

// Blocklist sites and site exceptions go by one host rule: the same names are accepted, in the same
// form, and the same are refused. (Only exceptions trim blanks and drop a leading "www.".)
TEST(CustomBlockRuleTest, SitesAndExceptionsShareOneHostRule) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"Shop.Example.COM", "shop.example.com"},
        {"192.0.2.1", "192.0.2.1"},
        {"B\u00FCcher.Example", "xn--bcher-kva.example"},
        {"xn--bcher-kva.example", "xn--bcher-kva.example"},
        {"\u043F\u0440\u0438\u043C\u0435\u0440.\u0440\u0444", "xn--e1afmkfd.xn--p1ai"},
        {"[2001:DB8:0:0:0:0:0:1]", "[2001:db8::1]"},
        {"[0:0:1:0:0:1:0:0]", "[::1:0:0:1:0:0]"},
        {"[1:0:0:2:0:0:0:3]", "[1:0:0:2::3]"},
        {"[1:2:3:4:5:6:7::]", "[1:2:3:4:5:6:7:0]"},
        {"[::FFFF:192.0.2.1]", "[::ffff:c000:201]"},
        {"[::]", "[::]"},
        {"localhost", std::nullopt},
        {"example.com.", std::nullopt},
        {"example..com", std::nullopt},
        {"https://example.com", std::nullopt},
        {"example.com:443", std::nullopt},
        {"example.com/path", std::nullopt},
        {"*.example.com", std::nullopt},
        {"my_site.com", std::nullopt},
        {"a\nb.com", std::nullopt},
        {"a-.com", std::nullopt},
        {"javascript:", std::nullopt},
        {"\xff.com", std::nullopt},
        {"ex\u00A0ample.com", std::nullopt},
        {std::string(100 * 1024, 'a') + ".com", std::nullopt},
        {"2001:db8::1", std::nullopt},
        {"[2001:db8::1%25eth0]", std::nullopt},
        {"[1::2::3]", std::nullopt},
        {"[12345::]", std::nullopt},
        {"[1:2:3:4:5:6:7:8:9]", std::nullopt},
        {"[1:2:3:4:5:6:7:8::]", std::nullopt},
        {"[::1.2.3.256]", std::nullopt},
        {"[::01.2.3.4]", std::nullopt},
        {"[1:]", std::nullopt},
        {"[2001:db8::1", std::nullopt},
    };
    for (const auto& [text, canonical] : cases) {
        EXPECT_EQ(CustomBlockRule::canonicalSite(text), canonical) << text;
        EXPECT_EQ(DomainExceptionStore::normalize(text), canonical) << text;
    }
}

TEST(CustomBlocklistStoreTest, BlocksExactParameterAndHost) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    ASSERT_FALSE(store.add("Ref"));
    ASSERT_FALSE(store.add("ref", "Shop.Example.com"));
    EXPECT_EQ(store.rules(), (Rules{global("Ref"), onSite("ref", "shop.example.com")}));

    EXPECT_TRUE(store.blocks("Ref", ""));
    EXPECT_TRUE(store.blocks("Ref", "anything.org"));
    EXPECT_FALSE(store.blocks("REF", "anything.org"));
    EXPECT_TRUE(store.blocks("ref", "SHOP.example.COM"));
    EXPECT_FALSE(store.blocks("ref", "eu.shop.example.com"));
    EXPECT_FALSE(store.blocks("ref", "www.shop.example.com"));
    EXPECT_FALSE(store.blocks("ref", "example.com"));
    EXPECT_FALSE(store.blocks("ref", ""));
    // A site in another spelling matches the host however the link writes it.
    ASSERT_FALSE(store.add("id", "B\u00FCcher.example"));
    ASSERT_FALSE(store.add("id", "[2001:DB8::1]"));
    EXPECT_TRUE(store.blocks("id", "xn--bcher-kva.example"));
    EXPECT_TRUE(store.blocks("id", "b\u00FCcher.EXAMPLE"));
    EXPECT_TRUE(store.blocks("id", "[2001:db8:0:0::1]"));
    EXPECT_FALSE(store.blocks("id", "[2001:db8::2]"));

    // blocks() reads the stored document, not the copy.
    defaults.remove(CustomBlocklistStore::storageKey);
    EXPECT_FALSE(store.blocks("Ref", ""));
}

TEST(CustomBlocklistStoreTest, DuplicatesGlobalReplacementAndUndo) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    EXPECT_FALSE(store.canUndo());
    EXPECT_EQ(store.undo(), CustomBlockError::noUndo);

    ASSERT_FALSE(store.add("a"));
    ASSERT_FALSE(store.add("ref", "one.com"));
    ASSERT_FALSE(store.add("ref", "two.com"));
    ASSERT_FALSE(store.add("z"));
    EXPECT_EQ(store.add("ref", "ONE.com"), CustomBlockError::duplicate);
    EXPECT_EQ(store.add("a", "one.com"), CustomBlockError::duplicate);
    EXPECT_EQ(store.add("a"), CustomBlockError::duplicate);
    EXPECT_EQ(store.add("a=", "one.com"), CustomBlockError::invalidParameter);
    EXPECT_EQ(store.add("b", "one.com:80"), CustomBlockError::invalidSite);

    const Rules before{global("a"), onSite("ref", "one.com"), onSite("ref", "two.com"), global("z")};
    ASSERT_EQ(store.rules(), before);
    ASSERT_FALSE(store.add("ref"));
    EXPECT_EQ(store.rules(), (Rules{global("a"), global("z"), global("ref")}));
    EXPECT_TRUE(store.canUndo());

    ASSERT_FALSE(store.undo());
    EXPECT_EQ(store.rules(), before);
    EXPECT_FALSE(store.canUndo());
    EXPECT_EQ(store.undo(), CustomBlockError::noUndo);
    EXPECT_EQ(store.rules(), before);

    // Removing something absent is a silent no-op that keeps the undo state either way.
    ASSERT_FALSE(store.remove(global("absent")));
    EXPECT_FALSE(store.canUndo());
    ASSERT_FALSE(store.remove(onSite("ref", "two.com")));
    EXPECT_TRUE(store.canUndo());
    ASSERT_FALSE(store.remove(onSite("ref", "two.com")));
    EXPECT_TRUE(store.canUndo());
    ASSERT_FALSE(store.undo());
    EXPECT_EQ(store.rules(), before);

    // The stored document is the one the copy shows, with the undo list beside it.
    ASSERT_FALSE(store.remove(global("z")));
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
    ASSERT_EQ(store.rules().size(), 254U);
    ASSERT_FALSE(store.add("ref", "one.com"));
    ASSERT_FALSE(store.add("last"));
    ASSERT_EQ(store.rules().size(), 256U);

    EXPECT_EQ(store.add("more"), CustomBlockError::limit);
    EXPECT_EQ(store.add("more", "one.com"), CustomBlockError::limit);
    EXPECT_EQ(store.rules().size(), 256U);
    EXPECT_FALSE(store.blocks("more", ""));

    // A global rule that takes the place of a site rule keeps the count at 256.
    ASSERT_FALSE(store.add("ref"));
    EXPECT_EQ(store.rules().size(), 256U);
    EXPECT_EQ(store.rules().back(), global("ref"));

    // 257 stored rules are not a list at all.
    defaults.setDataText(CustomBlocklistStore::storageKey, documentWithRules(257));
    store.refresh();
    EXPECT_TRUE(store.rules().empty());
    EXPECT_FALSE(store.blocks("p0", ""));
}

TEST(CustomBlocklistStoreTest, UnusableStoredDocumentsReadAsEmpty) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    const std::string validPrevious = R"(,"previous":[{"parameter":"old"}])";
    const auto readsAsEmpty = [&](const std::string& document) {
        defaults.setDataText(CustomBlocklistStore::storageKey, document);
        store.refresh();
        return store.rules().empty() && !store.canUndo() && !store.blocks("p0", "") && !store.blocks("x", "a.com");
    };

    EXPECT_FALSE(readsAsEmpty(documentWithRules(2, validPrevious)));
    EXPECT_TRUE(store.canUndo());

    EXPECT_TRUE(readsAsEmpty("not json"));
    EXPECT_TRUE(readsAsEmpty(R"([{"parameter":"p0"}])"));
    EXPECT_TRUE(readsAsEmpty(R"({"previous":[]})"));
    EXPECT_TRUE(readsAsEmpty(R"({"rules":[{"parameter":"p0"},{"parameter":"p0"}]})"));
    EXPECT_TRUE(readsAsEmpty(R"({"rules":[{"parameter":"p0"},{"parameter":"a b"}]})"));
    EXPECT_TRUE(readsAsEmpty(R"({"rules":[{"parameter":"p0"},{"parameter":"x","site":"A.com"}]})"));
    EXPECT_TRUE(readsAsEmpty(R"({"rules":[{"parameter":"p0"},{"parameter":"x","site":"a.com."}]})"));
    EXPECT_TRUE(readsAsEmpty(R"({"rules":[{"parameter":"p0"}],"previous":[{"parameter":"-x"}]})"));
    EXPECT_TRUE(readsAsEmpty(R"({"rules":[{"parameter":"p0"}],"previous":{}})"));
    defaults.set(CustomBlocklistStore::storageKey, std::string(R"({"rules":[{"parameter":"p0"}]})"));
    store.refresh();
    EXPECT_TRUE(store.rules().empty());

    // Up to 131,072 bytes are read (trailing blanks are still JSON); one byte more is not.
    std::string document = documentWithRules(1, validPrevious);
    document.resize(CustomBlocklistStore::maximumDocumentBytes, ' ');
    EXPECT_FALSE(readsAsEmpty(document));
    EXPECT_TRUE(store.blocks("p0", ""));
    EXPECT_TRUE(readsAsEmpty(document + " "));

    // Not repaired on reading; the next edit replaces it, and undo goes back to an empty list.
    EXPECT_EQ(defaults.dataText(CustomBlocklistStore::storageKey), document + " ");
    ASSERT_FALSE(store.add("fresh"));
    EXPECT_EQ(store.rules(), Rules{global("fresh")});
    ASSERT_FALSE(store.undo());
    EXPECT_TRUE(store.rules().empty());
}

// Every edit through a stale copy is refused and refreshes it; the stored list is left alone.
void expectConflicts(CustomBlocklistStore& stale, CustomBlocklistStore& other) {
    ASSERT_FALSE(other.add("theirs"));
    int published = 0;
    auto connection = stale.rulesChanged().connect([&] { ++published; });
    EXPECT_EQ(stale.add("mine"), CustomBlockError::conflict);
    EXPECT_EQ(stale.rules(), Rules{global("theirs")});
    EXPECT_EQ(published, 1);
    // Fresh now, so the same edit goes through.
    ASSERT_FALSE(stale.add("mine"));
    EXPECT_TRUE(other.blocks("mine", ""));

    other.refresh();
    ASSERT_FALSE(other.remove(global("theirs")));
    EXPECT_EQ(stale.remove(global("mine")), CustomBlockError::conflict);
    EXPECT_TRUE(other.blocks("mine", ""));
    EXPECT_EQ(stale.rules(), Rules{global("mine")});

    ASSERT_FALSE(other.add("again"));
    EXPECT_EQ(stale.undo(), CustomBlockError::conflict);
    EXPECT_EQ(stale.rules(), (Rules{global("mine"), global("again")}));
    EXPECT_TRUE(stale.canUndo());
    ASSERT_FALSE(stale.undo());
    EXPECT_EQ(stale.rules(), Rules{global("mine")});

    // Invalid input is refused before the stored list is even looked at, so the copy stays stale.
    other.refresh();
    ASSERT_FALSE(other.add("third"));
    EXPECT_EQ(stale.add(" bad"), CustomBlockError::invalidParameter);
    EXPECT_EQ(stale.add("ok", "http://a.com"), CustomBlockError::invalidSite);
    EXPECT_EQ(stale.rules(), Rules{global("mine")});
    EXPECT_EQ(stale.add("ok"), CustomBlockError::conflict);
}

TEST(CustomBlocklistStoreTest, ConflictBetweenInstances) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore first(defaults);
    CustomBlocklistStore second(defaults);
    expectConflicts(first, second);
}

TEST(CustomBlocklistStoreTest, ConflictBetweenConnectionsToOneFile) {
    testing::TemporaryDirectory directory;
    ASSERT_FALSE(directory.path().empty());
    const auto file = directory.path() / "defaults.sqlite3";
    auto firstConnection = SqliteUserDefaults::open(file);
    auto secondConnection = SqliteUserDefaults::open(file);
    CustomBlocklistStore first(*firstConnection);
    CustomBlocklistStore second(*secondConnection);
    expectConflicts(first, second);
}

TEST(CustomBlocklistStoreTest, RefusedWriteChangesNothing) {
    InMemoryUserDefaults defaults;
    CustomBlocklistStore store(defaults);
    ASSERT_FALSE(store.add("kept"));
    defaults.setWritable(false);
    EXPECT_EQ(store.add("lost"), CustomBlockError::storeFailed);
    EXPECT_EQ(store.undo(), CustomBlockError::storeFailed);
    EXPECT_EQ(store.rules(), Rules{global("kept")});
    defaults.setWritable(true);
    // The copy still matches the document, so this is not taken for someone else's change.
    ASSERT_FALSE(store.add("later"));
    EXPECT_EQ(store.rules(), (Rules{global("kept"), global("later")}));
}

// Two threads edit through their own instances; the shared lock keeps every read-compare-write
// whole, so retrying after a conflict loses nothing, and the conflict's refresh re-enters the lock.
TEST(CustomBlocklistStoreTest, ConcurrentEditsLoseNothing) {
    InMemoryUserDefaults defaults;
    constexpr int kPerThread = 60;
    const auto editor = [&defaults](const std::string& prefix) {
        CustomBlocklistStore store(defaults);
        auto connection = store.rulesChanged().connect([&store] { (void)store.rules(); });
        for (int i = 0; i < kPerThread; ++i) {
            const std::string name = prefix + std::to_string(i);
            while (store.add(name) == CustomBlockError::conflict) {
            }
        }
    };
    std::thread first(editor, "a");
    std::thread second(editor, "b");
    first.join();
    second.join();

    CustomBlocklistStore reader(defaults);
    EXPECT_EQ(reader.rules().size(), 2U * kPerThread);
    for (int i = 0; i < kPerThread; ++i) {
        EXPECT_TRUE(reader.blocks("a" + std::to_string(i), ""));
        EXPECT_TRUE(reader.blocks("b" + std::to_string(i), ""));
    }
}

}  // namespace
}  // namespace tessaril
