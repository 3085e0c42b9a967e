// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/cleaning/RulesEngine.h"
#include "core/foundation/FileContents.h"
#include "core/foundation/InMemoryUserDefaults.h"

// The shipped rule files, read the way every benchmark that loads rules reads them.
namespace tessaril::bench {

struct ShippedRuleFiles {
    std::string main;
    std::string supplementary;
};

// Nothing when either file is missing.
inline std::optional<ShippedRuleFiles> readShippedRuleFiles() {
    const std::string bundle = TESSARIL_SHIPPED_BUNDLE_DIR "/";
    auto main = readFileContents(bundle + "data.min.json");
    auto supplementary = readFileContents(bundle + "tessaril-supplementary.json");
    if (!main || !supplementary) return std::nullopt;
    return ShippedRuleFiles{std::move(*main), std::move(*supplementary)};
}

// An engine on defaults of its own, which keep nothing.
struct LoadedEngine {
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults};

    bool load(const ShippedRuleFiles& files) {
        return engine.loadRuleBundle(files.main, std::string_view(files.supplementary));
    }
};

}  // namespace tessaril::bench
