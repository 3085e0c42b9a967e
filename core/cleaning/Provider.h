// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/cleaning/RuleCategoryType.h"
#include "core/cleaning/WrapperEncoding.h"

namespace tessaril {

// A redirection whose capture holds the target encoded (see WrapperDecoding.h), not as written.
struct EncodedRedirection {
    std::string pattern;
    WrapperEncoding encoding{};

    bool operator==(const EncodedRedirection&) const = default;
};

// One provider of a provider rule file. Every key is optional in the file; missing keys take the
// defaults below.
struct Provider {
    std::string urlPattern;
    bool completeProvider = false;
    std::vector<std::string> rules;
    std::vector<std::string> rawRules;
    std::vector<std::string> referralMarketing;
    std::vector<std::string> exceptions;
    std::vector<std::string> redirections;
    bool forceRedirection = false;
    // Our own key, "category": the category the provider's rules are listed and switched under, for
    // providers whose name says nothing of their purpose (those converted from a filter list).
    // Readers of the public format ignore it; here an unknown value, or the user's own category,
    // counts as absent, and the name decides as usual.
    std::optional<RuleCategoryType> category;
    // Our own key, "encodedRedirections": a list of {"pattern": expression, "encoding": name}, for
    // wrappers whose target no expression can capture as it is. Tried after "redirections", in
    // order, and decoded as the name says. Readers of the public format ignore it; here an entry
    // whose encoding is unknown counts as absent, and one that is not an object of two strings
    // fails the file.
    std::vector<EncodedRedirection> encodedRedirections;
    // Our own key, "keptParameters": parameter-name patterns (anchored like "rules") that a site
    // needs, so that on the links this provider applies to no provider of any file removes them,
    // where a broad rule elsewhere would. Readers of the public format ignore it.
    std::vector<std::string> keptParameters;
    // Our own key, "source": the rule list the provider was taken from, shown and filtered on in the
    // rules list when several lists are merged into one file. Empty when the file does not say.
    std::string source;

    // The rule list the provider is listed under: its "source", or the public list's name.
    [[nodiscard]] std::string_view listedSource() const;

    // The parameter-name patterns: "rules" followed by "referralMarketing".
    [[nodiscard]] std::vector<std::string> allParamPatterns() const;

    bool operator==(const Provider&) const = default;
};

// A whole provider rule file: the "providers" object, in the order the file lists them.
struct ProvidersFile {
    std::vector<std::pair<std::string, Provider>> providers;

    // Fails as a whole on text that is not JSON, a document without a "providers" object, or a value
    // of the wrong type under a known key. Unknown keys are ignored. A provider named twice keeps its
    // first position and its last value. Never throws.
    [[nodiscard]] static std::optional<ProvidersFile> decode(std::string_view json);

    bool operator==(const ProvidersFile&) const = default;
};

}  // namespace tessaril
