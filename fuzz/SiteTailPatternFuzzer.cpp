// SPDX-License-Identifier: GPL-3.0-or-later
// The direct reading of subdomain URL patterns against ICU. Input: the part of a pattern after
// "^https?:\/\/(?:[a-z0-9-]+\.)*" up to the first line feed (a leading "?" makes the subdomains lazy,
// as most rule files write them), then the link. Checked: reading any pattern is safe; whenever the
// reading answers, ICU (case-insensitive, as URL patterns are compiled) gives the same answer, unless
// it ran out of work; on printable ASCII links it always answers.
#include "core/cleaning/matching/SiteTailPattern.h"
#include "core/foundation/Regex.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

constexpr std::int32_t kWorkLimit = 1000;
constexpr std::size_t kMaximumPattern = 512;
constexpr std::size_t kMaximumText = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto lineFeed = input.find('\n');
    if (lineFeed == std::string_view::npos) return 0;
    const auto text = input.substr(lineFeed + 1);
    if (lineFeed > kMaximumPattern || text.size() > kMaximumText) return 0;
    const std::string pattern = R"(^https?:\/\/(?:[a-z0-9-]+\.)*)" + std::string(input.substr(0, lineFeed));
    const auto tail = tessaril::SiteTailPattern::read(pattern);
    if (!tail) return 0;
    tessaril::SiteTailPattern::Starts starts;
    const auto answer = tail->match(text, starts);
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
    FUZZ_CHECK(!printable || answer != tessaril::SiteTailPattern::Answer::unknown);
    if (answer == tessaril::SiteTailPattern::Answer::unknown) return 0;
    auto icu = tessaril::Regex::compile(pattern, true);
    FUZZ_CHECK(icu.has_value());
    icu->setFastPathEnabled(false);
    icu->setWorkLimit(kWorkLimit);
    const bool found = icu->search(text);
    if (icu->lastMatchHitLimit()) return 0;
    FUZZ_CHECK(found == (answer == tessaril::SiteTailPattern::Answer::yes));
    return 0;
}
