// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/filter-converter/FilterCategory.h"

#include <array>
#include <initializer_list>
#include <string>

#include "core/foundation/Text.h"

namespace tessaril::filters {

namespace {

struct Row {
    RuleCategoryType category;
    std::initializer_list<std::string_view> keywords;
};

// In order: e-mail and affiliate links are named by their companies, which also run ads, so they
// come before the advertising words.
const std::array<Row, 5> kTable{{
    {RuleCategoryType::emailMarketing,
     {"mail", "newsletter", "hubspot", "klaviyo", "braze", "marketo", "pardot", "sendinblue", "brevo", "_hs", "mc_",
      "mkt_tok"}},
    {RuleCategoryType::referralMarketing,
     {"affiliate", "referral", "referrer", "impact.com", "tradedoubler", "shareasale", "awin", "sovrn", "viglink",
      "skimlinks", "admitad", "partner", "commission", "aff_", "affid", "ref_"}},
    {RuleCategoryType::socialMedia,
     {"facebook", "instagram", "twitter", "tiktok", "linkedin", "reddit", "youtube", "pinterest", "snapchat", "social",
      "fbclid", "igsh", "share"}},
    {RuleCategoryType::advertising,
     {"advert", " ads", "ad network", "click id", "clickid", "click_id", "clid", "doubleclick", "criteo", "taboola",
      "outbrain", "yandex direct", "campaign"}},
    {RuleCategoryType::ecommerce,
     {"amazon", "aliexpress", "ebay", "shop", "store", "e-commerce", "ecommerce", "product", "rakuten", "tmall"}},
}};

bool mentions(const std::string& text, const Row& row) {
    for (const auto keyword : row.keywords) {
        if (text.find(keyword) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

RuleCategoryType categoryFor(std::string_view comments, std::string_view host, std::string_view label) {
    // The comment says most about a rule; only when it names no purpose do the host and the name speak.
    const std::array<std::string, 2> texts{text::toLower(comments),
                                           text::toLower(std::string(host) + " " + std::string(label))};
    for (const auto& said : texts) {
        for (const auto& row : kTable) {
            if (mentions(said, row)) return row.category;
        }
    }
    return RuleCategoryType::analytics;
}

}  // namespace tessaril::filters
