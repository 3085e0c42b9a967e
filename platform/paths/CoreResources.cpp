// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/paths/CoreResources.h"

#include "platform/paths/CheckedRuleFiles.h"

#include <system_error>
#include <vector>

namespace tessaril {

namespace fs = std::filesystem;

std::optional<ResourceBundle> locateCoreResources(const EnvironmentLookup& environment,
                                                  const std::optional<fs::path>& executableDirectory) {
    std::vector<fs::path> bases;
    if (auto chosen = environment("TESSARIL_RESOURCES"); chosen && !chosen->empty()) bases.emplace_back(*chosen);
    if (executableDirectory && !executableDirectory->empty()) {
        bases.push_back(*executableDirectory);
        bases.push_back((*executableDirectory / ".." / "share" / "tessaril").lexically_normal());
    }
    bases.emplace_back(TESSARIL_BUILD_RESOURCES_DIR);
    return ResourceBundle::locateCore(bases);
}

std::optional<fs::path> executableDirectory() {
    std::error_code error;
    fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error || executable.empty()) return std::nullopt;
    return executable.parent_path();
}

const std::optional<ResourceBundle>& coreResources() {
    static const std::optional<ResourceBundle> bundle = [] {
        auto located = locateCoreResources(processEnvironment(), executableDirectory());
        if (located) {
            located->setCheckedRuleFiles(checkedShippedRuleFiles());
            located->setKnownPrefilters(knownShippedPrefilters());
        }
        return located;
    }();
    return bundle;
}

}  // namespace tessaril
