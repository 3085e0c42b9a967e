// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/VersionComparison.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <algorithm>
#include <charconv>
#include <compare>
#include <cstdint>
#include <memory>
#include <vector>

namespace tessaril {

namespace {

std::vector<std::int64_t> versionPieces(std::string_view version) {
    std::vector<std::int64_t> pieces;
    while (!version.empty()) {
        const std::size_t dot = version.find('.');
        const std::string_view piece = version.substr(0, dot);
        version.remove_prefix(dot == std::string_view::npos ? version.size() : dot + 1);
        if (piece.empty()) continue;
        // from_chars takes a minus sign but no plus sign.
        const std::string_view digits = piece.front() == '+' ? piece.substr(1) : piece;
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        const bool whole = error == std::errc{} && end == digits.data() + digits.size() &&
                           !(piece.front() == '+' && !digits.empty() && digits.front() == '-');
        pieces.push_back(whole ? value : 0);
    }
    return pieces;
}

int sign(std::strong_ordering order) {
    if (std::is_lt(order)) return -1;
    return std::is_gt(order) ? 1 : 0;
}

}  // namespace

int compareVersions(std::string_view a, std::string_view b) {
    auto left = versionPieces(a);
    auto right = versionPieces(b);
    const std::size_t length = std::max(left.size(), right.size());
    left.resize(length, 0);
    right.resize(length, 0);
    return sign(left <=> right);
}

int localizedStandardCompare(std::string_view a, std::string_view b) {
    UErrorCode status = U_ZERO_ERROR;
    // The POSIX locale (LANG=C) collates by code point, case first; people there expect the same
    // order as anywhere else.
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string_view(locale.getVariant()) == "POSIX") locale = icu::Locale::getRoot();
    const std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_SUCCESS(status)) {
        // Secondary strength: accents count, case does not.
        collator->setStrength(icu::Collator::SECONDARY);
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    }
    if (U_FAILURE(status) || !collator) return sign(a <=> b);
    const UCollationResult result =
        collator->compareUTF8(icu::StringPiece(a.data(), static_cast<std::int32_t>(a.size())),
                              icu::StringPiece(b.data(), static_cast<std::int32_t>(b.size())), status);
    if (U_FAILURE(status)) return 0;
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

}  // namespace tessaril
