// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ExitStatus.h"
#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/RulesEngine.h"
#include "core/foundation/UserDefaults.h"

namespace tessaril::cli {

// A rules export is a few hundred kilobytes; anything far beyond that is not one, and reading it
// whole would only cost memory.
inline constexpr std::uintmax_t kMaxRulesImportBytes = std::uintmax_t{16} * 1024 * 1024;

// A category by its name as shown ("Social Media"), or by the same name in any letter case and
// without its blanks and hyphens ("social-media", "ecommerce"), when that names exactly one.
[[nodiscard]] std::optional<RuleCategoryType> categoryNamed(std::string_view name);

// The content of a file to import, or nothing (with the reason on `err`) when it is missing, not a
// regular file, unreadable or larger than kMaxRulesImportBytes. The size is checked before reading.
[[nodiscard]] std::optional<std::string> readImportFile(const std::string& file, std::ostream& err);

// The changes `tessaril rules` makes to the user's rule settings. Each runs as one transaction on
// the preferences store: the engine first re-reads what the tray application may have saved since
// the rules were loaded, then the change is made through the engine's own operations, and it is
// kept only when every document it rewrites reached the store. A refused change or a store that
// cannot be written leaves the store exactly as it was and exits with ExitStatus::refused.
class RuleSettingsEdit {
public:
    // `engine` must have been loaded with `defaults`.
    RuleSettingsEdit(UserDefaults& defaults, RulesEngine& engine, std::ostream& err);

    // A category by name (see categoryNamed), or every listed rule with the identifier.
    ExitStatus setEnabled(std::string_view identifier, bool enabled);
    // Prints the new rule's identifier. Refuses an identifier that any listed rule already has.
    ExitStatus addCustomRule(std::string_view parameter, std::string_view displayName, RuleCategoryType category,
                             std::ostream& out);
    ExitStatus removeCustomRule(std::string_view identifier);
    // Prints what the import changed; `fileName` names the file in messages.
    ExitStatus importRules(std::string_view data, std::string_view fileName, std::ostream& out);
    ExitStatus resetToDefaults();
    ExitStatus resetMatchCounts();

private:
    // A change returns why it refuses, or nothing when it was made.
    using Change = std::function<std::optional<std::string>()>;
    ExitStatus commit(std::initializer_list<std::string_view> rewrittenKeys,
                      std::initializer_list<std::string_view> removedKeys, const Change& change,
                      std::string_view nothingDone = "nothing changed");
    // Every listed rule with this identifier; a category prefix in another letter case is accepted.
    [[nodiscard]] std::vector<RuleEntry*> rulesNamed(std::string_view identifier) const;
    [[nodiscard]] RuleCategory* category(RuleCategoryType type) const;

    UserDefaults& defaults_;
    RulesEngine& engine_;
    std::ostream& err_;
};

}  // namespace tessaril::cli
