// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/KnownPrefilters.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tessaril {

inline constexpr std::string_view kCoreBundleName = "Tessaril_TessarilCore.bundle";

// A directory of shipped resources, looked up by name and extension.
class ResourceBundle {
public:
    explicit ResourceBundle(std::filesystem::path directory) : directory_(std::move(directory)) {}

    [[nodiscard]] const std::filesystem::path& directory() const { return directory_; }
    // The file `name`.`extension` in the bundle, when it exists.
    [[nodiscard]] std::optional<std::filesystem::path> url(std::string_view name, std::string_view extension) const;

    // The rule files the build has checked (their contentDigest): every pattern in them loads, so
    // loading them again need not check each one. Files with other bytes are checked as ever.
    void setCheckedRuleFiles(std::span<const std::uint64_t> digests) {
        checkedRuleFiles_.assign(digests.begin(), digests.end());
    }
    [[nodiscard]] bool isCheckedRuleFile(std::string_view bytes) const;
    // The prefilters of the checked files' patterns, worked out by the build (see KnownPrefilters).
    void setKnownPrefilters(std::span<const KnownPrefilter> sorted) { knownPrefilters_ = sorted; }
    [[nodiscard]] std::span<const KnownPrefilter> knownPrefilters() const { return knownPrefilters_; }

    // The core bundle from a list of base folders, tried in order: each base B offers B itself when
    // it is named like the bundle, then B/<bundle>, B/Contents/Resources/<bundle> and
    // B/Frameworks/<bundle>. The first candidate that is a directory wins.
    [[nodiscard]] static std::optional<ResourceBundle> locateCore(const std::vector<std::filesystem::path>& bases);

private:
    std::filesystem::path directory_;
    std::vector<std::uint64_t> checkedRuleFiles_;
    std::span<const KnownPrefilter> knownPrefilters_;
};

}  // namespace tessaril
