// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/ScriptedHttpsClient.h"

namespace tessaril {

namespace {

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

HttpsResult ScriptedHttpsClient::get(const HttpsRequest& request, const RedirectPolicy& policy) {
    HttpsRequest hop = request;
    for (int redirects = 0;; ++redirects) {
        requests_.push_back(hop);
        const auto found = script_.find(hop.url);
        if (found == script_.end()) return HttpsError::connectionFailed;
        const Reply& reply = found->second;
        if (isRedirect(reply.status)) {
            if (policy(HttpsRedirect{reply.status, hop.url, reply.location}) == RedirectDecision::stop) {
                return HttpsResponse{hop.url, reply.status, {}, redirects};
            }
            if (!reply.location) return HttpsError::invalidURL;
            hop.url = *reply.location;
            continue;
        }
        if (request.skipsBody) return HttpsResponse{hop.url, reply.status, {}, redirects};
        if (reply.body.size() > request.bodyLimit) return HttpsError::tooLarge;
        return HttpsResponse{hop.url, reply.status, reply.body, redirects};
    }
}

}  // namespace tessaril
