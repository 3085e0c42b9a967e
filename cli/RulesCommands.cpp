// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/RulesCommands.h"

#include <ostream>
#include <string>

#include "core/foundation/URLComponents.h"

namespace tessaril::cli {

ExitStatus exportRules(const RulesEngine& engine, std::ostream& out, std::ostream& err) {
    const auto document = engine.exportRules();
    if (!document) {
        err << "tessaril: the rule settings could not be encoded\n";
        return ExitStatus::rulesUnreadable;
    }
    out << *document << '\n';
    return ExitStatus::success;
}

ExitStatus explainRules(RulesEngine& engine, std::string_view url, std::ostream& out) {
    const auto providers = engine.matchingProviders(url);
    const auto components = URLComponents::parse(url);
    std::vector<std::string> names;
    if (components) {
        // When an escape does not decode, show the names as written.
        auto items = components->queryItems();
        for (const auto& item : items ? *items : components->percentEncodedQueryItems())
            names.push_back(item.name);
    }

    out << "providers: " << providers.size() << '\n';
    for (const auto* provider : providers) {
        out << "  " << provider->name << " (" << rawValue(provider->category) << ")";
        if (engine.isException(url, *provider)) out << ": exception, not applied";
        out << '\n';
        if (engine.isException(url, *provider)) continue;
        if (auto target = engine.extractRedirection(url, *provider)) out << "    redirect to " << *target << '\n';
        if (engine.applyRawRules(std::string(url), *provider) != url) out << "    path rules cut part of the link\n";
        for (const auto& name : names) {
            if (auto rule = engine.shouldStripParam(name, *provider)) out << "    " << name << ": " << *rule << '\n';
        }
    }
    out << "built-in and custom rules:\n";
    for (const auto& name : names) {
        if (auto rule = engine.shouldStripParamFallback(name)) out << "  " << name << ": " << rule->first << '\n';
    }
    return ExitStatus::success;
}

}  // namespace tessaril::cli
