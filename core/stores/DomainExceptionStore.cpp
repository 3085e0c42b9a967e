// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/DomainExceptionStore.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"
#include "core/stores/HostName.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <utility>

namespace tessaril {

DomainExceptionStore::DomainExceptionStore(UserDefaults& defaults)
    : defaults_(defaults), disabledDomains_(std::make_shared<const List>()) {
    refresh();
}

std::vector<DomainException> DomainExceptionStore::disabledDomains() const {
    return *disabledDomains_.load();
}

void DomainExceptionStore::refresh() {
    {
        std::lock_guard guard(lock_);
        publish(readList(defaults_));
    }
    disabledDomainsChanged_.emit();
}

std::optional<std::string> DomainExceptionStore::normalize(std::string_view host) {
    auto canonical = canonicalHostName(text::trim(host));
    // Dropped after the name is in its canonical form, so that no other spelling of "www." stays.
    if (!canonical || !canonical->starts_with("www.")) return canonical;
    return canonicalHostName(std::string_view(*canonical).substr(4));
}

std::optional<std::string> DomainExceptionStore::normalizedHost(std::string_view urlString) {
    const std::string_view trimmed = text::trim(urlString);
    if (!trimmed.starts_with("http://") && !trimmed.starts_with("https://")) return std::nullopt;
    const auto url = URLComponents::parse(trimmed);
    if (!url) return std::nullopt;
    return normalizedHost(*url);
}

std::optional<std::string> DomainExceptionStore::normalizedHost(const URLComponents& url) {
    auto host = url.host();
    if (!host) return std::nullopt;
    return normalize(*host);
}

bool DomainExceptionStore::isDisabled(std::string_view host) const {
    const auto normalized = normalize(host);
    if (!normalized) return false;
    const auto current = disabledDomains_.load();
    return std::any_of(current->begin(), current->end(),
                       [&](const DomainException& exception) { return exception.host == *normalized; });
}

bool DomainExceptionStore::isDisabledURL(std::string_view urlString) const {
    const auto host = normalizedHost(urlString);
    return host && isDisabled(*host);
}

std::optional<DomainExceptionError> DomainExceptionStore::disable(std::string_view host) {
    auto normalized = normalize(host);
    if (!normalized) return DomainExceptionError::invalidHost;
    return edit([&](List& list) {
        DomainException added{std::move(*normalized)};
        if (std::find(list.begin(), list.end(), added) != list.end()) return false;
        list.push_back(std::move(added));
        return true;
    });
}

std::optional<DomainExceptionError> DomainExceptionStore::enable(std::string_view host) {
    const auto normalized = normalize(host);
    if (!normalized) return DomainExceptionError::invalidHost;
    return edit([&](List& list) { return std::erase(list, DomainException{*normalized}) > 0; });
}

DomainExceptionStore::LinkEdit DomainExceptionStore::disableURL(std::string_view urlString) {
    LinkEdit result{normalizedHost(urlString), std::nullopt};
    if (result.host) result.error = disable(*result.host);
    return result;
}

DomainExceptionStore::LinkEdit DomainExceptionStore::enableURL(std::string_view urlString) {
    LinkEdit result{normalizedHost(urlString), std::nullopt};
    if (result.host) result.error = enable(*result.host);
    return result;
}

std::optional<DomainExceptionError> DomainExceptionStore::edit(const std::function<bool(List&)>& change) {
    {
        std::lock_guard guard(lock_);
        std::optional<List> changed;
        const bool saved = defaults_.transaction([&](UserDefaults& store) {
            // The stored list, not our copy: another process may have changed it since we looked.
            List list = readList(store);
            if (!change(list)) return true;
            auto json = nlohmann::ordered_json::array();
            for (const auto& exception : list)
                json.push_back(exception.toJson());
            // Every host is ASCII (see readList and normalize), so encoding cannot fail.
            if (!store.setDataText(storageKey, json.dump())) return false;
            changed = std::move(list);
            return true;
        });
        if (!saved) return DomainExceptionError::storeFailed;
        if (!changed) return std::nullopt;
        publish(std::move(*changed));
    }
    disabledDomainsChanged_.emit();
    return std::nullopt;
}

// An older version stored whatever host it was given, so the list may hold text that no link's
// host can match (a line break inside, "*.x", a whole URL). Such entries are skipped rather than
// making the whole list unreadable, which would hide the user's good exceptions too; the next edit
// that writes the list leaves them out. Hosts kept in an older form (a Unicode name, an IPv6
// address without brackets) are read in today's, so they keep matching the same links. Stored
// hosts are not normalised again: their "www." was dropped when they were added, and a second one
// is part of the name. Anything that is not a JSON list of objects with a "host" string still reads
// as empty, and the next edit that changes the list overwrites it.
DomainExceptionStore::List DomainExceptionStore::readList(const UserDefaults& store) {
    const auto bytes = store.dataValue(storageKey);
    if (!bytes) return {};
    const auto json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, /*allow_exceptions=*/false);
    if (!json.is_array()) return {};
    List list;
    list.reserve(json.size());
    for (const auto& element : json) {
        auto exception = DomainException::fromJson(element);
        if (!exception) return {};
        auto host = canonicalHostName(exception->host);
        if (!host && exception->host.find(':') != std::string::npos) {
            host = canonicalHostName("[" + exception->host + "]");
        }
        if (!host) continue;
        DomainException read{std::move(*host)};
        if (std::find(list.begin(), list.end(), read) == list.end()) list.push_back(std::move(read));
    }
    return list;
}

void DomainExceptionStore::publish(List list) {
    disabledDomains_.store(std::make_shared<const List>(std::move(list)));
}

}  // namespace tessaril
