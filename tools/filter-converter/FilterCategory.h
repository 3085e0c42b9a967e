// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "core/cleaning/RuleCategoryType.h"

namespace tessaril::filters {

// The category a converted rule is listed and switched under. The list files its rules under
// comments that name the tracking company or purpose ("! impact.com", "! Mailchimp", "! GLAMI click
// id"); the first row of a small keyword table that the comment, the host or the parameter matches
// decides, and a rule nothing names is analytics, as most of the list is.
[[nodiscard]] RuleCategoryType categoryFor(std::string_view comments, std::string_view host, std::string_view label);

}  // namespace tessaril::filters
