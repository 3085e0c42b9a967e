// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "core/foundation/Signal.h"
#include "core/foundation/UserDefaults.h"
#include "core/stores/DomainException.h"
#include "core/stores/DomainExceptionError.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaril {

class URLComponents;

// The sites on which the user turned cleaning off, kept in their preferences. Each edit is one
// transaction of the preferences store from the read of the stored list to the write of the new
// one, so exceptions added by another process survive; lookups use the copy taken by the
// constructor, refresh() and each edit that changed the list.
//
// One lock per instance serialises the constructor's read, refresh() and the edits; lookups and the
// normalisation helpers take no lock and may run on any thread (the copy is replaced as a whole).
// disabledDomainsChanged() is emitted on the editing thread after that lock is released, so a slot
// may call back into the store.
class DomainExceptionStore {
public:
    static constexpr std::string_view storageKey = "domainExceptions_disabledDomains";

    // Keeps a reference to `defaults`, which must outlive the store, and reads the stored list.
    explicit DomainExceptionStore(UserDefaults& defaults);
    DomainExceptionStore(const DomainExceptionStore&) = delete;
    DomainExceptionStore& operator=(const DomainExceptionStore&) = delete;

    // In the order they were added.
    [[nodiscard]] std::vector<DomainException> disabledDomains() const;
    [[nodiscard]] Signal<>& disabledDomainsChanged() { return disabledDomainsChanged_; }

    void refresh();

    // Trimmed of white space and line breaks, put in the form canonicalHostName() gives (the rule the
    // blocklist's sites share: lower case, non-ASCII names in their ASCII form, IPv6 addresses in
    // brackets), without one leading "www.". Nothing when the host is not one that rule accepts
    // (a port, a trailing dot, a single label, a wildcard, a line break inside).
    [[nodiscard]] static std::optional<std::string> normalize(std::string_view host);
    // The normalised host of an "http://" or "https://" link (scheme in lower case, after trimming);
    // absent for any other text, a link that does not parse, or one whose host normalize() refuses.
    [[nodiscard]] static std::optional<std::string> normalizedHost(std::string_view urlString);
    // The same for a link the caller has already checked and parsed.
    [[nodiscard]] static std::optional<std::string> normalizedHost(const URLComponents& url);

    // Exact match of the normalised host: an exception does not cover subdomains.
    [[nodiscard]] bool isDisabled(std::string_view host) const;
    // False when no site is listed: then no host needs normalising at all.
    [[nodiscard]] bool hasDisabledDomains() const { return !disabledDomains_.load()->empty(); }
    // False when the link has no normalised host.
    [[nodiscard]] bool isDisabledURL(std::string_view urlString) const;

    // Adds the normalised host once (a host already listed is success). Nothing on success, else
    // why nothing changed; the copy and the signal change only with the stored list.
    std::optional<DomainExceptionError> disable(std::string_view host);
    // Removes the normalised host; a host that is not listed is success, and changes nothing.
    std::optional<DomainExceptionError> enable(std::string_view host);

    struct LinkEdit {
        // The link's normalised host; absent when it has none, and then nothing changed.
        std::optional<std::string> host;
        std::optional<DomainExceptionError> error;
        bool operator==(const LinkEdit&) const = default;
    };
    // The same for a link's host.
    LinkEdit disableURL(std::string_view urlString);
    LinkEdit enableURL(std::string_view urlString);

private:
    using List = std::vector<DomainException>;
    [[nodiscard]] static List readList(const UserDefaults& store);
    // Runs `change` on the stored list in one transaction of the store and, when it changed the
    // list (returned true), writes and publishes it.
    std::optional<DomainExceptionError> edit(const std::function<bool(List&)>& change);
    void publish(List list);

    UserDefaults& defaults_;
    std::mutex lock_;
    std::atomic<std::shared_ptr<const List>> disabledDomains_;
    Signal<> disabledDomainsChanged_;
};

}  // namespace tessaril
