// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/updates/DesktopReleaseInfo.h"

#include "core/foundation/JsonFields.h"

#include <nlohmann/json.hpp>

namespace tessaril {

namespace {

using json = nlohmann::json;

// An optional string: absent or null reads as none, any other type fails.
bool readOptionalString(const json& object, std::string_view key, std::optional<std::string>& into) {
    const json* value = json_fields::field(object, key);
    if (value == nullptr || value->is_null()) return true;
    if (!value->is_string()) return false;
    into = value->get<std::string>();
    return true;
}

}  // namespace

std::optional<DesktopReleasePayload> DesktopReleasePayload::decode(std::string_view text) {
    const json document = json::parse(text, nullptr, false);
    const json* desktop = json_fields::field(document, "desktop");
    auto product = json_fields::requiredString(document, "product");
    if (!product || desktop == nullptr || !desktop->is_object()) return std::nullopt;
    auto version = json_fields::requiredString(*desktop, "currentVersion");
    if (!version) return std::nullopt;

    DesktopReleasePayload payload{std::move(*product), DesktopReleaseInfo{std::move(*version), {}, {}, {}, {}}};
    DesktopReleaseInfo& info = payload.desktop;
    if (const json* build = json_fields::field(*desktop, "currentBuild"); build != nullptr && !build->is_null()) {
        info.currentBuild = json_fields::int64Value(*build);
        if (!info.currentBuild) return std::nullopt;
    }
    if (!readOptionalString(*desktop, "releaseDate", info.releaseDate) ||
        !readOptionalString(*desktop, "notesUrl", info.notesUrl) ||
        !readOptionalString(*desktop, "downloadUrl", info.downloadUrl)) {
        return std::nullopt;
    }
    return payload;
}

bool isDesktopReleaseVersion(std::string_view version) {
    int groups = 0;
    while (true) {
        const std::size_t dot = version.find('.');
        const std::string_view group = version.substr(0, dot);
        if (group.empty() || group.size() > 9 || ++groups > 4 ||
            group.find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
        if (dot == std::string_view::npos) return true;
        version.remove_prefix(dot + 1);
    }
}

}  // namespace tessaril
