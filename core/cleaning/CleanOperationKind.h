// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string_view>

namespace tessaril {

// What one step of a clean did. The raw values are the JSON form and never change: stored results
// and exported reports carry them.
enum class CleanOperationKind {
    localParameterRemoval,
    offlineWrapperUnwrap,
    offlinePathRewrite,
    privacyRedirect,
    networkResolution,
    functionalTransformation
};

[[nodiscard]] std::string_view rawValue(CleanOperationKind kind);
[[nodiscard]] std::optional<CleanOperationKind> cleanOperationKindFromRawValue(std::string_view raw);

}  // namespace tessaril
