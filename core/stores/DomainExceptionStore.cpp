// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/DomainExceptionStore.h"

#include "core/foundation/Text.h"
#include "core/foundation/URLComponents.h"

#include <algorithm>
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
        publish(readList());
    }
    disabledDomainsChanged_.emit();
}

std::string DomainExceptionStore::normalize(std::string_view host) {
    std::string normalized = text::toLower(text::trim(host));
    if (normalized.starts_with("www.")) normalized.erase(0, 4);
    return normalized;
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
    if (!host || host->empty()) return std::nullopt;
    std::string_view name = *host;
    // The host of "http://[::1]/" is "::1"; the brackets only delimit it inside the link.
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    return normalize(name);
}

bool DomainExceptionStore::isDisabled(std::string_view host) const {
    const std::string normalized = normalize(host);
    const auto current = disabledDomains_.load();
    return std::any_of(current->begin(), current->end(),
                       [&](const DomainException& exception) { return exception.host == normalized; });
}

bool DomainExceptionStore::isDisabledURL(std::string_view urlString) const {
    const auto host = normalizedHost(urlString);
    return host && isDisabled(*host);
}

void DomainExceptionStore::disable(std::string_view host) {
    DomainException added{normalize(host)};
    {
        std::lock_guard guard(lock_);
        // The stored list, not our copy: another process may have added sites since we looked.
        List list = readList();
        if (std::find(list.begin(), list.end(), added) != list.end()) return;
        list.push_back(std::move(added));
        writeList(list);
        publish(std::move(list));
    }
    disabledDomainsChanged_.emit();
}

void DomainExceptionStore::enable(std::string_view host) {
    const DomainException removed{normalize(host)};
    {
        std::lock_guard guard(lock_);
        List list = readList();
        if (std::erase(list, removed) == 0) return;
        writeList(list);
        publish(std::move(list));
    }
    disabledDomainsChanged_.emit();
}

std::optional<std::string> DomainExceptionStore::disableURL(std::string_view urlString) {
    auto host = normalizedHost(urlString);
    if (host) disable(*host);
    return host;
}

std::optional<std::string> DomainExceptionStore::enableURL(std::string_view urlString) {
    auto host = normalizedHost(urlString);
    if (host) enable(*host);
    return host;
}

// No size limit and no validation: anything that is not a JSON list of objects with a "host" string
// reads as empty, and the next edit that changes the list overwrites it.
DomainExceptionStore::List DomainExceptionStore::readList() const {
    const auto bytes = defaults_.dataValue(storageKey);
    if (!bytes) return {};
    const auto json = nlohmann::json::parse(bytes->begin(), bytes->end(), nullptr, /*allow_exceptions=*/false);
    if (!json.is_array()) return {};
    List list;
    list.reserve(json.size());
    for (const auto& element : json) {
        auto exception = DomainException::fromJson(element);
        if (!exception) return {};
        list.push_back(std::move(*exception));
    }
    return list;
}

void DomainExceptionStore::writeList(const List& list) {
    std::string text;
    try {
        auto json = nlohmann::ordered_json::array();
        for (const auto& exception : list)
            json.push_back(exception.toJson());
        text = json.dump();
    } catch (const nlohmann::json::exception&) {
        // A host that is not valid UTF-8 cannot be encoded; the list stays usable in memory for this
        // run, and what was stored before is kept.
        return;
    }
    defaults_.setDataText(storageKey, text);
}

void DomainExceptionStore::publish(List list) {
    disabledDomains_.store(std::make_shared<const List>(std::move(list)));
}

}  // namespace tessaril
