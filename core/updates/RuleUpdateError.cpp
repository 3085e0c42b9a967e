// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/RuleUpdateError.h"

#include <utility>

namespace tessaril {

namespace {

std::string describe(RuleUpdateError::Kind kind, const std::string& detail) {
    using Kind = RuleUpdateError::Kind;
    switch (kind) {
        case Kind::invalidManifest:
            return "Invalid rules manifest: " + detail;
        case Kind::incompatibleAppVersion:
            return "Rules require Tessaril " + detail + " or newer.";
        case Kind::network:
            return "Download failed: " + detail;
        case Kind::missingFile:
            return "Rules bundle missing " + detail + ".";
        case Kind::hashMismatch:
            return "Downloaded rules failed integrity check: " + detail + ".";
        case Kind::invalidRules:
            return "Downloaded rules were invalid: " + detail;
        case Kind::fileSystem:
            return "Could not save rules: " + detail;
    }
    return detail;
}

}  // namespace

RuleUpdateError::RuleUpdateError(Kind kind, std::string detail)
    : std::runtime_error(describe(kind, detail)), kind_(kind), detail_(std::move(detail)) {}

}  // namespace tessaril
