// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/NfaBacktracker.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace tessaril {

namespace {

using Kind = RegexNfa::Kind;

// A node still to try at an offset, or (node below zero) a capture slot to put back as it was
// when the walk backs out past the save node that changed it.
struct Job {
    std::int32_t node;
    std::int32_t offset;
};

constexpr std::int32_t restoreSlot(std::uint16_t slot) {
    return -1 - static_cast<std::int32_t>(slot);
}

// The explored pairs as one row of bits per text offset. Rows are cleared when first touched in a
// walk, not all at once: a match near the start of a long text costs only the rows it reached.
struct Scratch {
    std::vector<std::uint64_t> visited;
    std::vector<std::uint32_t> rowGeneration;
    std::uint32_t generation = 0;
    std::size_t wordsPerRow = 0;
    std::vector<Job> jobs;
    std::vector<std::int32_t> slots;

    void prepare(std::size_t rows, std::size_t words) {
        wordsPerRow = words;
        if (visited.size() < rows * words) visited.resize(rows * words);
        if (rowGeneration.size() < rows) rowGeneration.resize(rows, 0);
        if (++generation == 0) {
            std::fill(rowGeneration.begin(), rowGeneration.end(), 0);
            generation = 1;
        }
        jobs.clear();
    }

    // Marks the pair explored; false when it already was.
    bool firstVisit(std::int32_t node, std::int32_t offset) {
        const auto row = static_cast<std::size_t>(offset);
        std::uint64_t* words = visited.data() + row * wordsPerRow;
        if (rowGeneration[row] != generation) {
            std::fill(words, words + wordsPerRow, 0);
            rowGeneration[row] = generation;
        }
        const auto bit = static_cast<std::size_t>(node);
        const std::uint64_t mask = std::uint64_t{1} << (bit & 63);
        if ((words[bit >> 6] & mask) != 0) return false;
        words[bit >> 6] |= mask;
        return true;
    }
};

// One per thread, shared by every backtracker: Regex objects must not be shared between threads at
// once, but two of them may well run at the same time on two threads.
thread_local Scratch scratch;

unsigned char byteAt(std::string_view text, std::int32_t offset) {
    return static_cast<unsigned char>(text[static_cast<std::size_t>(offset)]);
}

// A group whose save nodes the match did not pass through did not take part in it.
RegexMatch matchOf(std::size_t begin, std::int32_t end, const std::vector<std::int32_t>& slots, std::size_t groups) {
    RegexMatch match;
    match.whole = {begin, static_cast<std::size_t>(end)};
    match.groups.reserve(groups);
    for (std::size_t g = 1; g <= groups; ++g) {
        const std::int32_t first = slots[2 * g];
        const std::int32_t last = slots[2 * g + 1];
        if (first < 0 || last < 0) {
            match.groups.emplace_back();
        } else {
            match.groups.emplace_back(TextRange{static_cast<std::size_t>(first), static_cast<std::size_t>(last)});
        }
    }
    return match;
}

std::size_t wordsPerRow(const RegexNfa& nfa) {
    return (nfa.nodes().size() + 63) / 64;
}

}  // namespace

NfaBacktracker::NfaBacktracker(std::shared_ptr<const RegexNfa> nfa) : nfa_(std::move(nfa)) {}

bool NfaBacktracker::answers(std::string_view text) const {
    if (!nfa_->capturesExact() || text.size() >= static_cast<std::size_t>(INT32_MAX)) return false;
    if (wordsPerRow(*nfa_) * 64 * (text.size() + 1) > visitBudget) return false;
    const auto& classes = nfa_->byteClasses();
    return std::all_of(text.begin(), text.end(), [&](char c) { return classes[static_cast<unsigned char>(c)] != 0; });
}

std::optional<RegexMatch> NfaBacktracker::find(std::string_view text, std::size_t from) const {
    const auto& nodes = nfa_->nodes();
    const auto& sets = nfa_->sets();
    const auto size = static_cast<std::int32_t>(text.size());
    Scratch& s = scratch;
    s.prepare(text.size() + 1, wordsPerRow(*nfa_));
    s.slots.assign(2 * (nfa_->captureCount() + 1), -1);
    const std::size_t lastStart = nfa_->anchoredAtStart() ? 0 : text.size();
    for (std::size_t start = from; start <= lastStart; ++start) {
        s.jobs.push_back({nfa_->start(), static_cast<std::int32_t>(start)});
        while (!s.jobs.empty()) {
            auto [node, at] = s.jobs.back();
            s.jobs.pop_back();
            if (node < 0) {
                s.slots[static_cast<std::size_t>(-1 - node)] = at;
                continue;
            }
            // Follows the preferred branch until it fails, leaving the others on the stack.
            while (node >= 0 && s.firstVisit(node, at)) {
                const auto& current = nodes[static_cast<std::size_t>(node)];
                switch (current.kind) {
                    case Kind::byteSet:
                        node = at < size && RegexNfa::contains(sets[current.set], byteAt(text, at)) ? current.out : -1;
                        ++at;
                        break;
                    case Kind::split:
                        s.jobs.push_back({current.alternative, at});
                        node = current.out;
                        break;
                    case Kind::textStart:
                        node = at == 0 ? current.out : -1;
                        break;
                    case Kind::textEnd:
                        node = at == size ? current.out : -1;
                        break;
                    case Kind::save:
                        s.jobs.push_back({restoreSlot(current.set), s.slots[current.set]});
                        s.slots[current.set] = at;
                        node = current.out;
                        break;
                    case Kind::match:
                        return matchOf(start, at, s.slots, nfa_->captureCount());
                }
            }
        }
    }
    return std::nullopt;
}

}  // namespace tessaril
