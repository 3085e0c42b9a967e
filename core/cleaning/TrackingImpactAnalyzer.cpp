// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/TrackingImpactAnalyzer.h"

#include "core/cleaning/CleanResult.h"
#include "core/cleaning/RuleCategoryType.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <utility>

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

// The purposes of a result's matched categories, each once, heaviest first. Held in place: there
// are only a handful, and the summary is made for every link the tool cleans.
struct OrderedCategories {
    std::array<TrackingCommercialCategory, kAllTrackingCommercialCategories.size()> items{};
    std::size_t count = 0;

    [[nodiscard]] std::span<const TrackingCommercialCategory> view() const { return {items.data(), count}; }
};

OrderedCategories orderedCategories(const CleanResult& result) {
    OrderedCategories ordered;
    const auto end = [&ordered] { return ordered.items.begin() + static_cast<std::ptrdiff_t>(ordered.count); };
    for (RuleCategoryType type : result.matchedCategories) {
        const TrackingCommercialCategory mapped = commercialCategory(type);
        if (std::find(ordered.items.begin(), end(), mapped) == end()) ordered.items[ordered.count++] = mapped;
    }
    const auto before = [](TrackingCommercialCategory a, TrackingCommercialCategory b) {
        if (weight(a) != weight(b)) return weight(a) > weight(b);
        return rawValue(a) < rawValue(b);
    };
    // An insertion sort of at most five (std::sort's unrolled start trips GCC's bounds warning here).
    for (std::size_t i = 1; i < ordered.count; ++i) {
        for (std::size_t j = i; j > 0 && before(ordered.items[j], ordered.items[j - 1]); --j)
            std::swap(ordered.items[j], ordered.items[j - 1]);
    }
    return ordered;
}

// The signals a result removed, as the report counts them.
std::int64_t signalsOf(const CleanResult& result, bool anyCategory) {
    const std::int64_t signals = std::max<std::int64_t>(result.paramsRemoved, 0);
    // A changed link (a privacy rewrite alone, say) still removed something from the user's view.
    if (!anyCategory && result.originalURL != result.cleanedURL) return std::max<std::int64_t>(signals, 1);
    return signals;
}

void appendSummaryText(std::string& summary, std::int64_t totalSignals,
                       std::span<const TrackingCommercialCategory> categories) {
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
}

}  // namespace

TrackingImpactReport TrackingImpactAnalyzer::analyze(const CleanResult& result) {
    const OrderedCategories ordered = orderedCategories(result);
    const std::span<const TrackingCommercialCategory> categories = ordered.view();
    const std::int64_t signals = signalsOf(result, !categories.empty());
    std::int64_t score = 0;
    if (!categories.empty()) {
        const auto count = static_cast<std::int64_t>(categories.size());
        score = std::clamp<std::int64_t>(signals - count, 0, kMaxExtraSignals);
        for (auto category : categories)
            score += weight(category);
    } else {
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
    report.categories.assign(categories.begin(), categories.end());
    return report;
}

void TrackingImpactAnalyzer::appendSummary(const CleanResult& result, std::string& out) {
    const OrderedCategories ordered = orderedCategories(result);
    appendSummaryText(out, signalsOf(result, ordered.count != 0), ordered.view());
}

std::string TrackingImpactAnalyzer::summarize(std::int64_t totalSignals,
                                              std::span<const TrackingCommercialCategory> categories) {
    std::string summary;
    summary.reserve(128);
    appendSummaryText(summary, totalSignals, categories);
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
