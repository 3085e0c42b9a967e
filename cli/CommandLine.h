// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "core/updates/RuleManifestSignature.h"

namespace tessaril {
class HttpsClient;
}

namespace tessaril::cli {

// Runs one invocation of the tool: `arguments` excludes the program name. Everything the tool
// prints goes to `out` and `err`, so tests can drive it in-process.
int run(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err);
// The same with the network every command fetches through handed in, and the key rules manifests
// must be signed with; the form above makes the real network and trusts the maker's key.
int run(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err,
        HttpsClient& network, const RuleSigningKey& rulesManifestKey = RuleManifestSignature::releaseKey);

}  // namespace tessaril::cli
