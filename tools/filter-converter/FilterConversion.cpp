// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/filter-converter/FilterConversion.h"

#include <algorithm>
#include <set>
#include <sstream>
#include <utility>

#include "core/cleaning/Provider.h"
#include "core/foundation/Text.h"
#include "tools/filter-converter/FilterCategory.h"

namespace tessaril::filters {

namespace {

// The rule list our hand-written providers are listed under.
constexpr std::string_view kOwnSource = "Tessaril";

enum class Scope { everySite, oneName, site };

struct ConvertedProvider {
    Scope scope = Scope::site;
    std::string name;
    std::string urlPattern;
    RuleCategoryType category = RuleCategoryType::analytics;
    std::vector<std::string> rules;
    std::vector<std::string> exceptions;
    std::string site;
};

void appendOnce(std::vector<std::string>& list, const std::string& value) {
    if (std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

std::string_view hostOf(std::string_view site) {
    return site.substr(0, std::min(site.find_first_of("/^:"), site.size()));
}

// Whether rules written for two sites can meet on one link: one host is the other or under it.
bool sitesOverlap(std::string_view a, std::string_view b) {
    const std::string_view hostA = hostOf(a);
    const std::string_view hostB = hostOf(b);
    const auto under = [](std::string_view inner, std::string_view outer) {
        return inner == outer || (inner.ends_with(outer) && inner[inner.size() - outer.size() - 1] == '.');
    };
    return under(hostA, hostB) || under(hostB, hostA);
}

class ProviderSet {
public:
    explicit ProviderSet(std::string_view source) : source_(source) {}

    void add(const FilterRule& rule, RuleCategoryType category) {
        ConvertedProvider* provider = nullptr;
        if (rule.urlPattern.empty() && rule.excludedUrlPatterns.empty()) {
            provider = &everySite(category);
        } else if (rule.urlPattern.empty()) {
            provider = &oneName(rule, category);
        } else {
            std::string key = rule.urlPattern;
            for (const auto& excluded : rule.excludedUrlPatterns)
                key += '\n' + excluded;
            provider = &find(key, [&] {
                return ConvertedProvider{
                    Scope::site, uniqueName(source_ + ": " + rule.site), rule.urlPattern, category, {}, {}, rule.site};
            });
        }
        appendOnce(provider->rules, rule.namePattern);
        for (const auto& excluded : rule.excludedUrlPatterns)
            appendOnce(provider->exceptions, excluded);
    }

    // Applies one of the list's exceptions; false when no converted rule removes that parameter there.
    bool except(const FilterRule& exception) {
        bool applied = false;
        // Indexes, not references: splitting a name out of an every-site provider adds a provider.
        for (std::size_t i = 0; i < providers_.size(); ++i) {
            ConvertedProvider& provider = providers_[i];
            const bool names =
                exception.namePattern.empty() ||
                std::find(provider.rules.begin(), provider.rules.end(), exception.namePattern) != provider.rules.end();
            const bool meets =
                provider.scope != Scope::site || exception.site.empty() || sitesOverlap(provider.site, exception.site);
            if (!names || !meets) continue;
            applied = true;
            if (provider.scope == Scope::everySite && !exception.namePattern.empty()) {
                // The other names of that provider stay removed on the excepted site.
                std::erase(provider.rules, exception.namePattern);
                FilterRule alone;
                alone.namePattern = exception.namePattern;
                alone.label = exception.label;
                ConvertedProvider& split = oneName(alone, provider.category);
                appendOnce(split.rules, exception.namePattern);
                appendOnce(split.exceptions, exceptionPattern(exception));
            } else {
                appendOnce(providers_[i].exceptions, exceptionPattern(exception));
            }
        }
        return applied;
    }

    // Every-site providers first (they are consulted for every link), then one-name ones, then per
    // site in the list's order; none left empty by exceptions.
    [[nodiscard]] std::vector<ConvertedProvider> ordered() const {
        std::vector<ConvertedProvider> out;
        for (const Scope scope : {Scope::everySite, Scope::oneName, Scope::site}) {
            for (const auto& provider : providers_) {
                if (provider.scope == scope && !provider.rules.empty()) out.push_back(provider);
            }
        }
        return out;
    }

private:
    static std::string exceptionPattern(const FilterRule& exception) {
        return exception.urlPattern.empty() ? std::string("^https?:\\/\\/") : exception.urlPattern;
    }

    template <typename Make>
    ConvertedProvider& find(const std::string& key, Make make) {
        const auto [at, inserted] = index_.try_emplace(key, providers_.size());
        if (inserted) providers_.push_back(make());
        return providers_[at->second];
    }

    ConvertedProvider& everySite(RuleCategoryType category) {
        return find("every site\n" + std::string(rawValue(category)), [&] {
            return ConvertedProvider{Scope::everySite,
                                     source_ + ": every site, " + text::toLower(rawValue(category)),
                                     "^https?:\\/\\/",
                                     category,
                                     {},
                                     {},
                                     {}};
        });
    }

    ConvertedProvider& oneName(const FilterRule& rule, RuleCategoryType category) {
        return find("one name\n" + rule.namePattern, [&] {
            return ConvertedProvider{
                Scope::oneName, uniqueName(source_ + ": " + rule.label), "^https?:\\/\\/", category, {}, {}, {}};
        });
    }

    std::string uniqueName(const std::string& wanted) {
        std::string name = wanted;
        for (int n = 2; !names_.insert(name).second; ++n)
            name = wanted + " (" + std::to_string(n) + ")";
        return name;
    }

    std::string source_;
    std::vector<ConvertedProvider> providers_;
    std::map<std::string, std::size_t> index_;
    std::set<std::string> names_;
};

nlohmann::ordered_json providerJson(const ConvertedProvider& provider, std::string_view source) {
    return nlohmann::ordered_json{{"urlPattern", provider.urlPattern},
                                  {"completeProvider", false},
                                  {"rules", provider.rules},
                                  {"referralMarketing", nlohmann::ordered_json::array()},
                                  {"exceptions", provider.exceptions},
                                  {"rawRules", nlohmann::ordered_json::array()},
                                  {"redirections", nlohmann::ordered_json::array()},
                                  {"forceRedirection", false},
                                  {"category", rawValue(provider.category)},
                                  {"source", source}};
}

// Calls `rule` with each line that is not a comment, and the comment block last seen above it.
template <typename Each>
void forEachRule(std::string_view text, Each rule) {
    std::string comments;
    bool inComment = false;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        const std::string_view trimmed = text::trim(line);
        if (trimmed.starts_with('!')) {
            if (!inComment) comments.clear();
            inComment = true;
            comments.append(trimmed.substr(1)).push_back('\n');
            continue;
        }
        inComment = false;
        if (!trimmed.empty()) rule(trimmed, comments);
    }
}

}  // namespace

std::string ConversionReport::summary() const {
    std::ostringstream out;
    out << "took " << rulesTaken << " rules into " << providers << " providers\n";
    for (const auto& [reason, count] : skipped)
        out << "left out " << count << " that " << describe(reason) << '\n';
    out << "applied " << exceptionsApplied << " exceptions; " << exceptionsUnmatched
        << " named parameters no converted rule removes there\n";
    for (const auto& [reason, count] : exceptionsSkipped) {
        out << "left out " << count << " exceptions that " << describe(reason) << '\n';
    }
    return out.str();
}

std::optional<Conversion> convertFilterLists(std::string_view ownProviders, const std::vector<FilterListFile>& lists,
                                             std::string_view exceptions, std::string_view source) {
    if (!ProvidersFile::decode(ownProviders)) return std::nullopt;
    Conversion conversion;
    ConversionReport& report = conversion.report;
    ProviderSet providers(source);
    // Exceptions are applied once every rule is in, wherever they are written.
    std::vector<std::vector<FilterRule>> excepted;
    const auto read = [&](std::string_view text) {
        forEachRule(text, [&](std::string_view line, const std::string& comments) {
            auto parsed = parseFilterLine(line);
            const bool exception = line.starts_with("@@");
            if (const auto* reason = std::get_if<SkipReason>(&parsed)) {
                ++(exception ? report.exceptionsSkipped : report.skipped)[*reason];
                return;
            }
            auto& rules = std::get<std::vector<FilterRule>>(parsed);
            if (exception) {
                excepted.push_back(std::move(rules));
                return;
            }
            for (const auto& rule : rules)
                providers.add(rule, categoryFor(comments, rule.site, rule.label));
            ++report.rulesTaken;
        });
    };
    for (const auto& list : lists)
        read(list.text);
    read(exceptions);
    for (const auto& perSite : excepted) {
        bool applied = false;
        for (const auto& exception : perSite)
            applied = providers.except(exception) || applied;
        ++(applied ? report.exceptionsApplied : report.exceptionsUnmatched);
    }

    auto document = nlohmann::ordered_json::parse(ownProviders);
    auto& out = document["providers"];
    // Our own providers say where they come from once merged with the list's, unless they already do.
    for (auto& provider : out) {
        if (provider.is_object() && !provider.contains("source")) provider["source"] = kOwnSource;
    }
    for (const auto& provider : providers.ordered()) {
        out[provider.name] = providerJson(provider, source);
        ++report.providers;
    }
    conversion.document = std::move(document);
    return conversion;
}

}  // namespace tessaril::filters
