// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CustomRuleCheck.h"

#include "core/foundation/Text.h"

#include <algorithm>

namespace tessaril {

namespace {

// A line break or an escape in a name would break every listing that shows it.
bool hasControlCharacter(std::string_view text) {
    return std::ranges::any_of(text, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::optional<std::string> textProblem(std::string_view text, std::string_view what, std::size_t maximumBytes) {
    const std::string name(what);
    if (text::trim(text).empty()) return "the " + name + " is empty";
    if (text.size() > maximumBytes) return "the " + name + " is longer than " + std::to_string(maximumBytes) + " bytes";
    if (!text::isValidUtf8(text)) return "the " + name + " is not UTF-8 text";
    if (hasControlCharacter(text)) return "the " + name + " holds control characters";
    return std::nullopt;
}

}  // namespace

std::optional<std::string> customRuleProblem(std::string_view pattern, std::string_view displayName) {
    if (auto problem = textProblem(pattern, "parameter name", maximumCustomRulePatternBytes)) return problem;
    return textProblem(displayName, "display name", maximumCustomRuleNameBytes);
}

}  // namespace tessaril
