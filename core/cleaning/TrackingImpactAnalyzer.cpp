// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/TrackingImpactAnalyzer.h"

#include "core/cleaning/CleanResult.h"
#include "core/cleaning/RuleCategoryType.h"

#include <algorithm>

namespace tessaril {

namespace {

// Signals beyond one per purpose add a little, but never outweigh a purpose of their own.
constexpr std::int64_t kMaxExtraSignals = 3;

TrackingImpactLevel levelForScore(std::int64_t score) {
    if (score < 1) return TrackingImpactLevel::negligible;
    if (score <= 2) return TrackingImpactLevel::low;
    if (score <= 5) return TrackingImpactLevel::medium;
    if (score <= 8) return TrackingImpactLevel::high;
    return TrackingImpactLevel::veryHigh;
}

// The category's name in small letters, appended to `out`.
void appendLabel(std::string& out, TrackingCommercialCategory category) {
    // Appended whole, then folded in place: one append per label rather than one per letter.
    const std::size_t from = out.size();
    out += rawValue(category);
    for (std::size_t i = from; i < out.size(); ++i) {
        if (out[i] >= 'A' && out[i] <= 'Z') out[i] = static_cast<char>(out[i] - 'A' + 'a');
    }
}

}  // namespace

TrackingImpactReport TrackingImpactAnalyzer::analyze(const CleanResult& result) {
    std::vector<TrackingCommercialCategory> categories;
    for (RuleCategoryType type : result.matchedCategories) {
        const TrackingCommercialCategory mapped = commercialCategory(type);
        if (std::find(categories.begin(), categories.end(), mapped) == categories.end()) categories.push_back(mapped);
    }
    std::sort(categories.begin(), categories.end(), [](TrackingCommercialCategory a, TrackingCommercialCategory b) {
        if (weight(a) != weight(b)) return weight(a) > weight(b);
        return rawValue(a) < rawValue(b);
    });

    std::int64_t signals = std::max<std::int64_t>(result.paramsRemoved, 0);
    std::int64_t score = 0;
    if (!categories.empty()) {
        const auto count = static_cast<std::int64_t>(categories.size());
        score = std::clamp<std::int64_t>(signals - count, 0, kMaxExtraSignals);
        for (auto category : categories)
            score += weight(category);
    } else {
        // A changed link (a privacy rewrite alone, say) still removed something from the user's view.
        if (result.originalURL != result.cleanedURL) signals = std::max<std::int64_t>(signals, 1);
        score = std::min(signals, kMaxExtraSignals);
    }

    TrackingImpactConfidence confidence = TrackingImpactConfidence::low;
    if (!categories.empty()) {
        const bool allHigh = std::all_of(categories.begin(), categories.end(), [](TrackingCommercialCategory c) {
            return defaultConfidence(c) == TrackingImpactConfidence::high;
        });
        confidence = allHigh ? TrackingImpactConfidence::high : TrackingImpactConfidence::medium;
    }

    TrackingImpactReport report;
    report.totalSignals = signals;
    report.impactLevel = levelForScore(score);
    report.confidence = confidence;
    report.summary = summarize(signals, categories);
    report.explanation = explain(categories);
    report.categories = std::move(categories);
    return report;
}

std::string TrackingImpactAnalyzer::summarize(std::int64_t totalSignals,
                                              std::span<const TrackingCommercialCategory> categories) {
    // Built in one buffer: the tool writes one for every link it cleans.
    std::string summary;
    summary.reserve(128);
    summary += "Removed ";
    summary += std::to_string(totalSignals);
    summary += totalSignals == 1 ? " tracking signal" : " tracking signals";
    switch (categories.size()) {
        case 0:
            break;
        case 1:
            summary += " tied to ";
            appendLabel(summary, categories[0]);
            break;
        case 2:
            summary += " tied to ";
            appendLabel(summary, categories[0]);
            summary += " and ";
            appendLabel(summary, categories[1]);
            break;
        default:
            summary += " across ";
            appendLabel(summary, categories[0]);
            summary += ", ";
            appendLabel(summary, categories[1]);
            summary += ", and other tracking categories";
            break;
    }
    summary += '.';
    return summary;
}

std::string TrackingImpactAnalyzer::explain(std::span<const TrackingCommercialCategory> categories) {
    if (categories.empty()) return "These parameters can help companies measure, route, or correlate your click.";
    std::string text(explanation(categories[0]));
    if (categories.size() >= 2) {
        text += ' ';
        text += explanation(categories[1]);
    }
    return text;
}

}  // namespace tessaril
