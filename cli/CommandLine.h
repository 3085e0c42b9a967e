// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tessaril {
class HttpsClient;
}

namespace tessaril::cli {

// Runs one invocation of the tool: `arguments` excludes the program name. Everything the tool
// prints goes to `out` and `err`, so tests can drive it in-process.
int run(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err);
// The same with the network `resolve` fetches through handed in; the form above makes the real one.
int run(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out, std::ostream& err,
        HttpsClient& network);

}  // namespace tessaril::cli
