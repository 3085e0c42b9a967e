// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string_view>

#include "cli/ExitStatus.h"
#include "core/cleaning/RulesEngine.h"

namespace tessaril::cli {

// `tessaril rules export`: the rule settings document, as the preferences window exports it.
ExitStatus exportRules(const RulesEngine& engine, std::ostream& out, std::ostream& err);

// `tessaril rules explain URL`: the providers that apply to a link and the rules that name its
// query parameters, so people can see why a parameter goes or stays.
ExitStatus explainRules(RulesEngine& engine, std::string_view url, std::ostream& out);

}  // namespace tessaril::cli
