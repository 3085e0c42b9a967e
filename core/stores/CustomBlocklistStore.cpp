// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/stores/CustomBlocklistStore.h"

#include "core/stores/HostName.h"

#include <algorithm>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_set>
#include <utility>

namespace tessaril {

struct CustomBlocklistStore::State {
    std::vector<CustomBlockRule> rules;
    // The list before the last change; absent when there is nothing to undo.
    std::optional<std::vector<CustomBlockRule>> previous;
};

namespace {

// Shared by every store in the process. Recursive because an edit that meets a conflict refreshes
// while it still holds the lock.
std::recursive_mutex& processLock() {
    static std::recursive_mutex lock;
    return lock;
}

bool isValidList(const std::vector<CustomBlockRule>& rules) {
    if (rules.size() > CustomBlocklistStore::maximumRules) return false;
    std::unordered_set<std::string> ids;
    for (const auto& rule : rules) {
        if (!CustomBlockRule::validParameter(rule.parameter)) return false;
        if (rule.site && CustomBlockRule::canonicalSite(*rule.site) != rule.site) return false;
        if (!ids.insert(rule.id()).second) return false;
    }
    return true;
}

std::optional<std::vector<CustomBlockRule>> decodeList(const nlohmann::json& json) {
    if (!json.is_array()) return std::nullopt;
    std::vector<CustomBlockRule> rules;
    rules.reserve(json.size());
    for (const auto& element : json) {
        auto rule = CustomBlockRule::fromJson(element);
        if (!rule) return std::nullopt;
        rules.push_back(std::move(*rule));
    }
    return rules;
}

nlohmann::ordered_json encodeList(const std::vector<CustomBlockRule>& rules) {
    auto json = nlohmann::ordered_json::array();
    for (const auto& rule : rules)
        json.push_back(rule.toJson());
    return json;
}

}  // namespace

CustomBlocklistStore::CustomBlocklistStore(UserDefaults& defaults) : defaults_(defaults) {
    refresh();
}

std::vector<CustomBlockRule> CustomBlocklistStore::rules() const {
    std::lock_guard guard(processLock());
    return rules_;
}

bool CustomBlocklistStore::canUndo() const {
    std::lock_guard guard(processLock());
    return canUndo_;
}

// Whatever is missing, too large, undecodable or invalid reads as an empty list with nothing to
// undo. It is not repaired here; the next successful edit overwrites it.
CustomBlocklistStore::State CustomBlocklistStore::readState(const UserDefaults& store) {
    const auto bytes = store.dataValue(storageKey);
    if (!bytes) return {};
    return decodeState(*bytes);
}

CustomBlocklistStore::State CustomBlocklistStore::decodeState(const Bytes& bytes) {
    if (bytes.size() > maximumDocumentBytes) return {};
    const auto json = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (!json.is_object()) return {};
    const auto rulesField = json.find("rules");
    if (rulesField == json.end()) return {};
    State state;
    auto rules = decodeList(*rulesField);
    if (!rules || !isValidList(*rules)) return {};
    state.rules = std::move(*rules);
    const auto previousField = json.find("previous");
    if (previousField != json.end() && !previousField->is_null()) {
        // A broken undo list discards the current rules too: the document as a whole is suspect.
        auto previous = decodeList(*previousField);
        if (!previous || !isValidList(*previous)) return {};
        state.previous = std::move(*previous);
    }
    return state;
}

void CustomBlocklistStore::refresh() {
    std::lock_guard guard(processLock());
    publish(readState(defaults_));
}

bool CustomBlocklistStore::blocks(std::string_view parameter, std::string_view host) const {
    return snapshot()->blocks(parameter, host);
}

std::shared_ptr<const CustomBlocklistStore::Snapshot> CustomBlocklistStore::snapshot() const {
    // A store that counts its changes answers most calls without a read; the count is taken before
    // the value, so a change made in between is seen at the next call.
    const auto changes = defaults_.changeCount();
    if (changes) {
        std::lock_guard guard(snapshotLock_);
        if (snapshot_ && snapshotChanges_ == changes) return snapshot_;
    }
    auto bytes = defaults_.dataValue(storageKey);
    std::lock_guard guard(snapshotLock_);
    snapshotChanges_ = changes;
    if (snapshot_ && snapshot_->hasStored_ == bytes.has_value() && (!bytes || snapshot_->stored_ == *bytes)) {
        return snapshot_;
    }
    auto fresh = std::make_shared<Snapshot>();
    if (bytes) {
        fresh->rules_ = decodeState(*bytes).rules;
        fresh->stored_ = std::move(*bytes);
        fresh->hasStored_ = true;
    }
    snapshot_ = std::move(fresh);
    return snapshot_;
}

bool CustomBlocklistStore::Snapshot::blocks(std::string_view parameter, std::string_view host) const {
    // The host is put in the form the sites are kept in only for a parameter the list names, which
    // is rare. A host with no such form matches no site.
    std::optional<std::optional<std::string>> canonicalHost;
    return std::any_of(rules_.begin(), rules_.end(), [&](const CustomBlockRule& rule) {
        if (rule.parameter != parameter) return false;
        if (!rule.site) return true;
        if (!canonicalHost) canonicalHost = canonicalHostName(host);
        return *canonicalHost == rule.site;
    });
}

std::optional<CustomBlockError> CustomBlocklistStore::edit(const Change& change) {
    std::lock_guard guard(processLock());
    std::optional<CustomBlockError> refusal;
    std::optional<State> written;
    // One transaction from the read of the stored list to the write of the new one, so that an edit
    // made at the same time by another process is never overwritten unseen.
    const bool kept = defaults_.transaction([&](UserDefaults& store) {
        State stored = readState(store);
        if (stored.rules != rules_) {
            refusal = CustomBlockError::conflict;
            return false;
        }
        std::optional<State> updated;
        refusal = change(stored, updated);
        if (refusal) return false;
        if (!updated) return true;
        const auto text = encode(*updated);
        if (!text) {
            refusal = CustomBlockError::storeFailed;
            return false;
        }
        if (!store.setDataText(storageKey, *text)) return false;
        written = std::move(updated);
        return true;
    });
    if (refusal == CustomBlockError::conflict) refresh();
    if (refusal) return refusal;
    // Publishing a list that was never stored would make the copy disagree with the document, and
    // the next edit would be refused as a conflict with ourselves.
    if (!kept) return CustomBlockError::storeFailed;
    if (written) publish(*written);
    return std::nullopt;
}

std::optional<CustomBlockError> CustomBlocklistStore::add(std::string_view parameter,
                                                          std::optional<std::string_view> site) {
    auto built = CustomBlockRule::validated(parameter, site);
    if (const auto* error = std::get_if<CustomBlockError>(&built)) return *error;
    const auto& rule = std::get<CustomBlockRule>(built);

    return edit([&](State& stored, std::optional<State>& updated) -> std::optional<CustomBlockError> {
        const bool duplicate =
            std::any_of(stored.rules.begin(), stored.rules.end(), [&](const CustomBlockRule& existing) {
                if (existing.parameter != rule.parameter) return false;
                return !existing.site || (rule.site && existing.site == rule.site);
            });
        if (duplicate) return CustomBlockError::duplicate;

        std::vector<CustomBlockRule> rules;
        rules.reserve(stored.rules.size() + 1);
        for (const auto& existing : stored.rules) {
            // A global rule covers every site, so it takes the place of that parameter's site rules.
            if (!rule.site && existing.parameter == rule.parameter) continue;
            rules.push_back(existing);
        }
        rules.push_back(rule);
        if (rules.size() > maximumRules) return CustomBlockError::limit;
        if (rules != stored.rules) updated = State{std::move(rules), std::move(stored.rules)};
        return std::nullopt;
    });
}

std::optional<CustomBlockError> CustomBlocklistStore::remove(const CustomBlockRule& rule) {
    return edit([&](State& stored, std::optional<State>& updated) -> std::optional<CustomBlockError> {
        std::vector<CustomBlockRule> rules = stored.rules;
        if (std::erase(rules, rule) > 0) updated = State{std::move(rules), std::move(stored.rules)};
        return std::nullopt;
    });
}

std::optional<CustomBlockError> CustomBlocklistStore::undo() {
    return edit([](State& stored, std::optional<State>& updated) -> std::optional<CustomBlockError> {
        if (!stored.previous) return CustomBlockError::noUndo;
        updated = State{std::move(*stored.previous), std::nullopt};
        return std::nullopt;
    });
}

std::optional<std::string> CustomBlocklistStore::encode(const State& state) {
    try {
        nlohmann::ordered_json json = nlohmann::ordered_json::object();
        json["rules"] = encodeList(state.rules);
        if (state.previous) json["previous"] = encodeList(*state.previous);
        return json.dump();
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

void CustomBlocklistStore::publish(const State& state) {
    rules_ = state.rules;
    canUndo_ = state.previous.has_value();
    rulesChanged_.emit();
    canUndoChanged_.emit();
}

}  // namespace tessaril
