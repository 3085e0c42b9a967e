// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/CleanOperationKind.h"

#include <array>

namespace tessaril {

namespace {

constexpr std::array<CleanOperationKind, 6> kAllKinds = {
    CleanOperationKind::localParameterRemoval, CleanOperationKind::offlineWrapperUnwrap,
    CleanOperationKind::offlinePathRewrite,    CleanOperationKind::privacyRedirect,
    CleanOperationKind::networkResolution,     CleanOperationKind::functionalTransformation};

}  // namespace

std::string_view rawValue(CleanOperationKind kind) {
    switch (kind) {
        case CleanOperationKind::localParameterRemoval:
            return "local_parameter_removal";
        case CleanOperationKind::offlineWrapperUnwrap:
            return "offline_wrapper_unwrap";
        case CleanOperationKind::offlinePathRewrite:
            return "offline_path_rewrite";
        case CleanOperationKind::privacyRedirect:
            return "privacy_redirect";
        case CleanOperationKind::networkResolution:
            return "network_resolution";
        case CleanOperationKind::functionalTransformation:
            return "functional_transformation";
    }
    return "local_parameter_removal";
}

std::optional<CleanOperationKind> cleanOperationKindFromRawValue(std::string_view raw) {
    for (CleanOperationKind kind : kAllKinds) {
        if (rawValue(kind) == raw) return kind;
    }
    return std::nullopt;
}

}  // namespace tessaril
