// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/HttpsClient.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tessaril {

// A web held in memory, for tests: each address answers with a scripted reply, and an address
// without one cannot be reached (connectionFailed). Redirects are offered to the policy and
// followed as the real client does, the body limit applies, and every request sent (one per hop,
// with that hop's address) is kept for the test to read.
class ScriptedHttpsClient final : public HttpsClient {
public:
    struct Reply {
        int status = 200;
        std::string body;
        // For a redirect status, the resolved Location; nothing stands for one that cannot be resolved.
        std::optional<std::string> location;
    };
    [[nodiscard]] static Reply redirect(std::optional<std::string> location, int status = 301) {
        return Reply{status, {}, std::move(location)};
    }

    void answer(const std::string& url, Reply reply) { script_[url] = std::move(reply); }

    [[nodiscard]] const std::vector<HttpsRequest>& requests() const { return requests_; }

    [[nodiscard]] HttpsResult get(const HttpsRequest& request, const RedirectPolicy& policy) override;

private:
    std::map<std::string, Reply, std::less<>> script_;
    std::vector<HttpsRequest> requests_;
};

}  // namespace tessaril
