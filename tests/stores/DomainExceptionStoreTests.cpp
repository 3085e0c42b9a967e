// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "core/foundation/InMemoryUserDefaults.h"
#include "core/stores/DomainExceptionStore.h"
#include "tests/support/CaseTable.h"

namespace tessaril {
namespace {

using Domains = std::vector<DomainException>;
using Edit = DomainExceptionStore::LinkEdit;

TEST(DomainExceptionStoreTest, HostsOfNamesAndLinks) {
    const auto cases = testing::readCases("stores/exception-hosts.json");
    ASSERT_FALSE(cases.empty());
    for (const auto& row : cases) {
        const std::string text = row[0];
        const auto expected = row[2].is_null() ? std::nullopt : std::optional(row[2].get<std::string>());
        EXPECT_EQ(
            row[1].get<bool>() ? DomainExceptionStore::normalizedHost(text) : DomainExceptionStore::normalize(text),
            expected)
            << text;
    }
}

TEST(DomainExceptionStoreTest, DisableAndEnableOnce) {
    InMemoryUserDefaults defaults;
    DomainExceptionStore store(defaults);
    int published = 0;
    auto connection = store.disabledDomainsChanged().connect([&] { ++published; });

    for (const char* host : {"  WWW.Example.com ", "example.com", "www.example.com", "other.org"})
        EXPECT_EQ(store.disable(host), std::nullopt) << host;
    EXPECT_EQ(published, 2);
    EXPECT_EQ(defaults.dataText(DomainExceptionStore::storageKey), R"([{"host":"example.com"},{"host":"other.org"}])");
    EXPECT_TRUE(store.isDisabled("WWW.example.com"));
    EXPECT_FALSE(store.isDisabled("shop.example.com"));
    EXPECT_TRUE(store.isDisabledURL("https://www.example.com/a?utm_source=x"));
    EXPECT_FALSE(store.isDisabledURL("HTTPS://example.com/"));
    EXPECT_EQ(store.disable("a\nb.com"), DomainExceptionError::invalidHost);

    // A link without a usable host changes nothing.
    EXPECT_EQ(store.disableURL("HTTPS://third.net/"), (Edit{std::nullopt, std::nullopt}));
    EXPECT_EQ(store.disableURL("https://www.Third.net/x"), (Edit{"third.net", std::nullopt}));
    EXPECT_EQ(store.enable("absent.com"), std::nullopt);
    EXPECT_EQ(published, 3);
    EXPECT_EQ(store.enable(" WWW.EXAMPLE.COM"), std::nullopt);
    EXPECT_EQ(store.enableURL("http://other.org:80/"), (Edit{"other.org", std::nullopt}));
    EXPECT_EQ(store.disabledDomains(), Domains{{"third.net"}});
    EXPECT_EQ(published, 5);
}

// Each edit starts from the stored list, not from the copy another instance may have left stale.
TEST(DomainExceptionStoreTest, EditsStartFromTheStoredList) {
    InMemoryUserDefaults defaults;
    DomainExceptionStore first(defaults);
    DomainExceptionStore second(defaults);
    ASSERT_EQ(first.disable("one.com"), std::nullopt);
    // An edit that changes nothing does not refresh the stale copy.
    ASSERT_EQ(second.enable("absent.com"), std::nullopt);
    EXPECT_FALSE(second.isDisabled("one.com"));
    ASSERT_EQ(second.disable("two.com"), std::nullopt);
    EXPECT_EQ(second.disabledDomains(), (Domains{{"one.com"}, {"two.com"}}));
    first.refresh();
    EXPECT_TRUE(first.isDisabled("two.com"));
}

TEST(DomainExceptionStoreTest, StoredListsReadAsFarAsTheyAreUsable) {
    InMemoryUserDefaults defaults;
    for (const std::string stored : {R"(not json)", R"({"host":"a.com"})", R"(["a.com"])", R"([{"host":"a.com"},{}])",
                                     R"([{"host":1}])", R"([{"host":null}])"}) {
        defaults.setDataText(DomainExceptionStore::storageKey, stored);
        EXPECT_TRUE(DomainExceptionStore(defaults).disabledDomains().empty()) << stored;
    }
    defaults.set(DomainExceptionStore::storageKey, std::string(R"([{"host":"a.com"}])"));
    EXPECT_TRUE(DomainExceptionStore(defaults).disabledDomains().empty());

    // Hosts an older version stored unchecked are skipped, and its older forms of good hosts read in
    // today's; extra keys are ignored. The next change writes the list back clean.
    defaults.setDataText(DomainExceptionStore::storageKey,
                         R"([{"host":"a.com","since":1},{"host":"b\nc.com"},{"host":"*.x"},{"host":"http://d.com/"},)"
                         R"({"host":"b\u00fccher.example"},{"host":"2001:DB8::1"},{"host":"A.com"},)"
                         R"({"host":"www.www.e.com"}])");
    DomainExceptionStore store(defaults);
    EXPECT_EQ(store.disabledDomains(),
              (Domains{{"a.com"}, {"xn--bcher-kva.example"}, {"[2001:db8::1]"}, {"www.www.e.com"}}));
    EXPECT_TRUE(store.isDisabledURL("http://[2001:db8:0::1]/"));
    ASSERT_EQ(store.enable("a.com"), std::nullopt);
    EXPECT_EQ(defaults.dataText(DomainExceptionStore::storageKey),
              R"([{"host":"xn--bcher-kva.example"},{"host":"[2001:db8::1]"},{"host":"www.www.e.com"}])");
}

}  // namespace
}  // namespace tessaril
