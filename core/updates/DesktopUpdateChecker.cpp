// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/DesktopUpdateChecker.h"

#include "core/foundation/URLComponents.h"
#include "core/updates/RuleUpdateManifest.h"
#include "core/updates/VersionComparison.h"

#include <utility>

namespace tessaril {

namespace {

constexpr std::string_view kReleasePath = "/tessaril/releases/desktop.json";

// `link` made absolute against the release file's address. Paths are not normalised: only the
// scheme, host, credentials and port are judged afterwards.
std::string resolvedAgainstReleaseFile(const std::string& link) {
    const std::string origin = "https://" + std::string(StaticUpdateSession::originHost);
    const auto components = URLComponents::parse(link);
    if (components && components->scheme()) return link;
    if (link.starts_with("//")) return "https:" + link;
    if (link.starts_with("/")) return origin + link;
    if (link.empty() || link.starts_with("?") || link.starts_with("#"))
        return origin + std::string(kReleasePath) + link;
    const std::string_view directory = kReleasePath.substr(0, kReleasePath.rfind('/') + 1);
    return origin + std::string(directory) + link;
}

}  // namespace

std::string DesktopUpdateChecker::releaseURL() {
    return "https://" + std::string(StaticUpdateSession::originHost) + std::string(kReleasePath);
}

void DesktopUpdateChecker::check(std::string currentVersion, std::int64_t currentBuild,
                                 std::function<void(const DesktopUpdateStatus&)> completion) {
    if (std::holds_alternative<DesktopUpdateStatus::Checking>(status_.state())) return;
    latest_.reset();
    setStatus(DesktopUpdateStatus::Checking{});
    HttpsRequest request = StaticUpdateSession::request(releaseURL());
    request.idleTimeout = requestTimeout;
    request.headers = {{"Cache-Control", "no-cache"}, {"Pragma", "no-cache"}};
    runInBackgroundThen(
        executor_,
        [&session = session_, request = std::move(request)] {
            return session.boundedData(request, RuleUpdateManifest::maximumManifestBytes);
        },
        [this, alive = std::weak_ptr<const bool>(alive_), currentVersion = std::move(currentVersion), currentBuild,
         completion = std::move(completion)](const HttpsResult& result) {
            if (alive.expired()) return;
            handle(result, currentVersion, currentBuild);
            if (completion) completion(status_);
        });
}

void DesktopUpdateChecker::handle(const HttpsResult& result, const std::string& currentVersion,
                                  std::int64_t currentBuild) {
    const auto* response = std::get_if<HttpsResponse>(&result);
    const bool answered = response != nullptr && response->status >= 200 && response->status <= 299 &&
                          !response->body.empty() && response->body.size() <= RuleUpdateManifest::maximumManifestBytes;
    auto payload = answered ? DesktopReleasePayload::decode(response->body) : std::nullopt;
    if (!payload || payload->product != "Tessaril" || !isDesktopReleaseVersion(payload->desktop.currentVersion) ||
        payload->desktop.currentBuild.value_or(0) < 0) {
        setStatus(DesktopUpdateStatus::Failed{});
        return;
    }
    DesktopReleaseInfo release = std::move(payload->desktop);
    release.notesUrl = trusted(release.notesUrl);
    release.downloadUrl = trusted(release.downloadUrl);
    latest_ = release;
    const int order = compareVersions(release.currentVersion, currentVersion);
    if (order > 0 || (order == 0 && currentBuild < release.currentBuild.value_or(0))) {
        setStatus(DesktopUpdateStatus::Available{std::move(release)});
    } else {
        setStatus(DesktopUpdateStatus::UpToDate{});
    }
}

std::optional<std::string> DesktopUpdateChecker::trusted(const std::optional<std::string>& link) {
    if (!link) return std::nullopt;
    std::string absolute = resolvedAgainstReleaseFile(*link);
    const auto components = URLComponents::parse(absolute);
    if (!components || components->scheme() != "https" ||
        components->percentEncodedHost() != StaticUpdateSession::originHost || components->percentEncodedUser() ||
        components->percentEncodedPassword() || (components->portText() && components->port() != 443)) {
        return std::nullopt;
    }
    return absolute;
}

void DesktopUpdateChecker::setStatus(DesktopUpdateStatus status) {
    if (status == status_) return;
    status_ = std::move(status);
    statusChanged_.emit();
}

}  // namespace tessaril
