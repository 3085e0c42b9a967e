// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <iosfwd>
#include <memory>
#include <optional>

#include "core/cleaning/RulesEngine.h"
#include "core/foundation/UserDefaults.h"
#include "platform/paths/XdgPaths.h"

namespace tessaril::cli {

// What every subcommand shares: the user's folders, their stored preferences (the same store the
// tray application uses) and a rules engine with their switches and custom rules applied.
class ToolContext {
public:
    explicit ToolContext(std::ostream& err);

    // Loads `directory`/data.min.json (required) and `directory`/tessaril-supplementary.json (when
    // present), or the shipped rules when no directory is given. On failure, says why on the
    // error stream and returns false.
    [[nodiscard]] bool loadRules(const std::optional<std::filesystem::path>& directory);

    [[nodiscard]] RulesEngine& engine() { return *engine_; }

private:
    std::ostream& err_;
    XdgPaths paths_;
    std::unique_ptr<UserDefaults> defaults_;
    std::unique_ptr<RulesEngine> engine_;
};

}  // namespace tessaril::cli
