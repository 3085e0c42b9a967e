// SPDX-License-Identifier: GPL-3.0-or-later
// The clipboard loop under a random session: copies of text, images and secrets, copies of what the
// loop itself wrote, polls, "Clean Now", undo, share-link resolutions and switches flipped. Every
// line of input is one step: its first byte says which, the rest is the text copied.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "tests/support/MonitorHarness.h"

namespace {

using namespace tessaril;

struct Counts {
    std::int64_t cleaned, today, warnings, neutralized;
    bool operator<=(const Counts& later) const {
        return cleaned <= later.cleaned && today <= later.today && warnings <= later.warnings &&
               neutralized <= later.neutralized;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Declared first: the monitor, which the harness keeps, lets go of the clipboard it watches when
    // it goes, so the clipboard must outlive it.
    InMemoryPasteboard board;
    testing::MonitorHarness h;
    h.network.answer("https://redd.it/abc", ScriptedHttpsClient::redirect("https://www.reddit.com/r/x/comments/abc/"));
    h.network.answer("https://www.reddit.com/r/x/comments/abc/", {});
    auto& monitor = h.start(board);
    const auto counts = [&] {
        return Counts{h.stored(StatsTracker::totalKey), monitor.cleanedCountToday(),
                      h.stored(StatsTracker::commandWarningsKey), h.stored(StatsTracker::neutralizedCommandsKey)};
    };

    std::string_view input(reinterpret_cast<const char*>(data), size);
    // What another program copied since the last poll: nothing, a secret, an image, or text.
    enum class Copied { nothing, secret, image, text } copied = Copied::nothing;
    std::string copiedText;
    std::size_t writesAtCopy = 0;
    Counts before = counts();
    const auto look = [&](bool byTimer) {
        const auto reads = board.reads();
        // A write of the loop's own since the copy (clean now, undo, a resolution) replaced it.
        const bool unseenCopy = copied != Copied::nothing && board.writes() == writesAtCopy;
        if (byTimer) {
            h.executor.fireTimers();
        } else {
            h.executor.runMainTasks();
        }
        // Read once per change of another program, never a secret, never the loop's own write.
        FUZZ_CHECK(board.reads() - reads == (unseenCopy && copied != Copied::secret ? 1U : 0U));
        if (unseenCopy && copied == Copied::text) {
            const auto& now = board.contents();
            const auto cleaned = h.cleaner.clean(copiedText);
            FUZZ_CHECK(now == copiedText || (cleaned && now == cleaned->cleanedURL) ||
                       now == CommandGuard::neutralizedCommand(copiedText));
        }
        copied = Copied::nothing;
    };
    while (!input.empty()) {
        const auto end = std::min(input.find('\n'), input.size());
        const std::string_view step = input.substr(0, end);
        input.remove_prefix(std::min(end + 1, input.size()));
        if (step.empty()) continue;
        const std::string text(step.substr(1));
        const int op = static_cast<std::uint8_t>(step[0]) % 10;
        switch (op) {
            case 0:
            case 3:
                // Another program copies the text, or exactly what the loop wrote: a copy like any other.
                copiedText = op == 0 ? text : board.contents().value_or(text);
                board.copyText(copiedText);
                copied = Copied::text;
                writesAtCopy = board.writes();
                break;
            case 1:
            case 2:
                if (op == 2) {
                    board.copyConcealedText(text);
                } else {
                    board.copyImage();
                }
                copied = op == 2 ? Copied::secret : Copied::image;
                writesAtCopy = board.writes();
                break;
            case 4:
                // The timer's look, or the looks the clipboard's change announcements posted.
                look(text.empty());
                break;
            case 5:
                monitor.cleanNow();
                break;
            case 6:
                monitor.restoreLastOriginal();
                break;
            case 7:
                look(false);  // what is posted runs first
                monitor.resolvePendingShareLink();
                h.executor.runBackgroundWork();
                h.executor.runMainTasks();
                FUZZ_CHECK(!monitor.isResolvingShareLink());
                break;
            case 8:
                monitor.setShouldNeutralizeRiskyCommands(!monitor.shouldNeutralizeRiskyCommands());
                break;
            default:
                monitor.setEnabled(!monitor.isEnabled());
                break;
        }
        const Counts after = counts();
        FUZZ_CHECK(before <= after);
        before = after;
    }
    return 0;
}
