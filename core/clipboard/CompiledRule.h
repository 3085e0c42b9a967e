// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/clipboard/RuleDefinition.h"
#include "core/foundation/Regex.h"
#include "core/foundation/RulePrefilter.h"

namespace tessaril {

// A rule whose pattern compiled; rules that do not compile never become one.
struct CompiledRule {
    RuleDefinition definition;
    Regex regex;
    // Skips the expression for texts that cannot match it.
    RulePrefilter prefilter;
};

}  // namespace tessaril
