// SPDX-License-Identifier: GPL-3.0-or-later
// The whole cleaning pipeline, with the shipped rules, on arbitrary clipboard text. Checks: nothing
// escapes as an exception, a cleaned outcome always changed the text, the cleaned link holds no
// control character or blank (whatever a wrapper's target decodes to), and cleaning a cleaned link
// again finds nothing more to do (short of two cases the pipeline explains: a wrapper left at the
// unwrapping depth limit, and one that a removed tracking value or a path rule's cut exposed).
#include "core/cleaning/CleanOutcome.h"
#include "core/cleaning/RulesEngine.h"
#include "core/cleaning/URLCleaner.h"
#include "core/foundation/InMemoryUserDefaults.h"
#include "core/foundation/Text.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

using namespace tessaril;

struct Pipeline {
    InMemoryUserDefaults defaults;
    RulesEngine engine{defaults, RulesEngineEnvironment{nullptr, nullptr, [](std::string_view) {}}};
    URLCleaner cleaner{engine};

    Pipeline() {
        const std::string clearURLs = fuzz::readResource("data.min.json");
        const std::string supplementary = fuzz::readResource("tessaril-supplementary.json");
        if (!engine.loadRuleBundle(clearURLs, supplementary) || engine.compiledProviders().empty()) std::abort();
        // Counts stay in memory; writing them out per input would only slow the run down.
        cleaner.setMatchCounting(URLCleaner::MatchCounting::keptInMemory);
    }
};

Pipeline& pipeline() {
    static Pipeline instance;
    return instance;
}

// A wrapper found at the deepest unwrapping level is handed back as it is, not cleaned: cleaning
// that output again legitimately unwraps further.
bool stoppedAtRedirectDepthLimit(const CleanResult& result) {
    const auto unwraps = std::count_if(result.operations.begin(), result.operations.end(), [](const auto& operation) {
        return operation.kind == CleanOperationKind::offlineWrapperUnwrap;
    });
    return unwraps > URLCleaner::maximumRedirectDepth;
}

// The pipeline unwraps a wrapper before any other step, once, and a redirection expression takes
// its first match only. A later step can leave a wrapper that the next clean unwraps: removing a
// tracking value that named the target parameter again ("gclid=x_adurl=garbage&adurl=https%3A..."),
// or a path rule cutting a segment in front of the target or one holding an escape that kept the
// target from decoding ("adurl=http%3A%2F%2F/ref=%86"). tests/cleaning/URLCleanerTests.cpp keeps a
// case of the latter and says why the pipeline stays one pass.
bool unwrapExposedByLaterStep(const CleanResult& first, const CleanResult& second) {
    const auto changesWrapper = [](const auto& operation) {
        return operation.kind == CleanOperationKind::localParameterRemoval ||
               operation.kind == CleanOperationKind::offlinePathRewrite;
    };
    return !second.operations.empty() && second.operations.front().kind == CleanOperationKind::offlineWrapperUnwrap &&
           std::any_of(first.operations.begin(), first.operations.end(), changesWrapper);
}

CleanOutcome cleanWithoutThrowing(URLCleaner& cleaner, std::string_view text) {
    try {
        return cleaner.cleanWithOutcome(text);
    } catch (...) {
        fuzz::propertyFailed("cleanWithOutcome threw", __FILE__, __LINE__);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    URLCleaner& cleaner = pipeline().cleaner;

    const CleanOutcome outcome = cleanWithoutThrowing(cleaner, input);
    const CleanResult* result = outcome.result();
    FUZZ_CHECK(outcome.kind() != CleanOutcome::Kind::skippedDisabled);  // no exception store here
    if (result == nullptr) return 0;

    // Cleaned means changed, and the record starts from the trimmed text.
    FUZZ_CHECK(result->originalURL == text::trim(input));
    FUZZ_CHECK(result->cleanedURL != result->originalURL);
    FUZZ_CHECK(!result->operations.empty() || result->paramsRemoved == 0);
    FUZZ_CHECK(fuzz::holdsNoControlOrBlank(result->cleanedURL));

    if (stoppedAtRedirectDepthLimit(*result)) return 0;
    const CleanOutcome again = cleanWithoutThrowing(cleaner, result->cleanedURL);
    if (again.kind() == CleanOutcome::Kind::cleaned && unwrapExposedByLaterStep(*result, *again.result())) return 0;
    if (again.kind() == CleanOutcome::Kind::cleaned) {
        std::fprintf(stderr, "first clean:  %s\nsecond clean: %s\n", result->cleanedURL.c_str(),
                     again.result()->cleanedURL.c_str());
    }
    FUZZ_CHECK(again.kind() != CleanOutcome::Kind::cleaned);
    return 0;
}
