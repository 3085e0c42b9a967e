// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/ResourceBundle.h"

#include "core/foundation/ContentDigest.h"

#include <algorithm>

#include <string>
#include <system_error>

namespace tessaril {

namespace fs = std::filesystem;

std::optional<fs::path> ResourceBundle::url(std::string_view name, std::string_view extension) const {
    std::string fileName(name);
    if (!extension.empty()) {
        fileName += '.';
        fileName += extension;
    }
    fs::path candidate = directory_ / fileName;
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate;
    return std::nullopt;
}

bool ResourceBundle::isCheckedRuleFile(std::string_view bytes) const {
    if (checkedRuleFiles_.empty()) return false;
    return std::find(checkedRuleFiles_.begin(), checkedRuleFiles_.end(), contentDigest(bytes)) !=
           checkedRuleFiles_.end();
}

std::optional<ResourceBundle> ResourceBundle::locateCore(const std::vector<fs::path>& bases) {
    for (const auto& base : bases) {
        if (base.empty()) continue;
        std::vector<fs::path> candidates;
        if (base.filename() == kCoreBundleName) candidates.push_back(base);
        candidates.push_back(base / kCoreBundleName);
        candidates.push_back(base / "Contents" / "Resources" / kCoreBundleName);
        candidates.push_back(base / "Frameworks" / kCoreBundleName);
        for (const auto& candidate : candidates) {
            std::error_code error;
            if (fs::is_directory(candidate, error)) return ResourceBundle(candidate);
        }
    }
    return std::nullopt;
}

}  // namespace tessaril
