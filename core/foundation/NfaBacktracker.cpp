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

    // Without a join to record (a pattern without repetition or alternatives), no rows at all.
    void prepare(std::size_t rows, std::size_t words) {
        wordsPerRow = words;
        if (words > 0 && visited.size() < rows * words) visited.resize(rows * words);
        if (words > 0 && rowGeneration.size() < rows) rowGeneration.resize(rows, 0);
        if (++generation == 0) {
            std::fill(rowGeneration.begin(), rowGeneration.end(), 0);
            generation = 1;
        }
        jobs.clear();
    }

    // Marks the pair explored; false when it already was.
    bool firstVisit(std::int32_t join, std::int32_t offset) {
        const auto row = static_cast<std::size_t>(offset);
        std::uint64_t* words = visited.data() + row * wordsPerRow;
        if (rowGeneration[row] != generation) {
            std::fill(words, words + wordsPerRow, 0);
            rowGeneration[row] = generation;
        }
        const auto bit = static_cast<std::size_t>(join);
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

}  // namespace

NfaBacktracker::NfaBacktracker(std::shared_ptr<const RegexNfa> nfa) : nfa_(std::move(nfa)) {
    // A node with one way in is reached at an offset at most once if its predecessor is, so only
    // the start and the nodes where paths join need recording; every cycle passes through a join.
    const auto& nodes = nfa_->nodes();
    std::vector<std::uint8_t> ways(nodes.size(), 0);
    ways[static_cast<std::size_t>(nfa_->start())] = 1;
    const auto enter = [&](std::int32_t node) {
        if (node >= 0)
            ways[static_cast<std::size_t>(node)] = std::min<std::uint8_t>(ways[static_cast<std::size_t>(node)], 1) + 1;
    };
    for (const auto& node : nodes) {
        enter(node.out);
        if (node.kind == Kind::split) enter(node.alternative);
    }
    joins_.assign(nodes.size(), -1);
    std::int32_t joins = 0;
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        if (ways[n] > 1) joins_[n] = joins++;
    }
    wordsPerRow_ = (static_cast<std::size_t>(joins) + 63) / 64;
    assignLeads();
    loopBody_.assign(nodes.size(), -1);
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        if (nodes[n].kind != Kind::split || joins_[n] < 0) continue;
        for (const std::int32_t branch : {nodes[n].out, nodes[n].alternative}) {
            const auto& body = nodes[static_cast<std::size_t>(branch)];
            if (body.kind == Kind::byteSet && body.out == static_cast<std::int32_t>(n)) loopBody_[n] = branch;
        }
    }
}

// What may come next from each branch of a split: the bytes a path from there can consume first,
// and byte 0 (never printable) when it can get to the end of the text consuming nothing. A match
// can follow anything and "^" depends on the offset, so both let every byte through. A branch whose
// set lacks the next byte fails, and is not tried.
void NfaBacktracker::assignLeads() {
    const auto& nodes = nfa_->nodes();
    const auto& sets = nfa_->sets();
    RegexNfa::ByteSet anything{};
    for (auto& word : anything)
        word = ~std::uint64_t{0};
    leads_.assign(nodes.size(), anything);
    std::vector<std::uint32_t> seen(nodes.size(), 0);
    std::vector<std::int32_t> stack;
    for (std::size_t first = 0; first < nodes.size(); ++first) {
        RegexNfa::ByteSet lead{};
        const auto mark = static_cast<std::uint32_t>(first + 1);
        stack.assign(1, static_cast<std::int32_t>(first));
        while (!stack.empty() && lead != anything) {
            const auto index = static_cast<std::size_t>(stack.back());
            stack.pop_back();
            if (seen[index] == mark) continue;
            seen[index] = mark;
            const auto& node = nodes[index];
            switch (node.kind) {
                case Kind::byteSet:
                    lead[0] |= sets[node.set][0];
                    lead[1] |= sets[node.set][1];
                    break;
                case Kind::split:
                    stack.push_back(node.alternative);
                    stack.push_back(node.out);
                    break;
                case Kind::save:
                    stack.push_back(node.out);
                    break;
                case Kind::textEnd:
                    lead[0] |= 1;
                    break;
                case Kind::textStart:
                case Kind::match:
                    lead = anything;
                    break;
            }
        }
        leads_[first] = lead;
    }
}

std::int32_t NfaBacktracker::walkLoop(std::int32_t split, std::int32_t& at, std::string_view text) const {
    const auto& loop = nfa_->nodes()[static_cast<std::size_t>(split)];
    const std::int32_t body = loopBody_[static_cast<std::size_t>(split)];
    const RegexNfa::ByteSet& set = nfa_->sets()[nfa_->nodes()[static_cast<std::size_t>(body)].set];
    const bool greedy = loop.out == body;
    const std::int32_t leave = greedy ? loop.alternative : loop.out;
    const std::int32_t join = joins_[static_cast<std::size_t>(split)];
    const auto size = static_cast<std::int32_t>(text.size());
    Scratch& s = scratch;
    while (true) {
        const unsigned char next = at < size ? byteAt(text, at) : 0;
        const bool again = at < size && RegexNfa::contains(set, next);
        const bool mayLeave = mayLead(leave, next);
        if (greedy) {
            // One more iteration first; leaving here is tried once those have failed.
            if (!again) return mayLeave ? leave : -1;
            if (mayLeave) s.jobs.push_back({leave, at});
        } else {
            // Leaving first; one more iteration is tried once that has failed.
            if (mayLeave) {
                if (again) s.jobs.push_back({body, at});
                return leave;
            }
            if (!again) return -1;
        }
        ++at;
        if (!s.firstVisit(join, at)) return -1;
    }
}

bool NfaBacktracker::answers(std::string_view text) const {
    if (!nfa_->capturesExact() || text.size() >= static_cast<std::size_t>(INT32_MAX)) return false;
    if (wordsPerRow_ * 64 * (text.size() + 1) > visitBudget) return false;
    const auto& classes = nfa_->byteClasses();
    return std::all_of(text.begin(), text.end(), [&](char c) { return classes[static_cast<unsigned char>(c)] != 0; });
}

std::optional<RegexMatch> NfaBacktracker::find(std::string_view text, std::size_t from) const {
    const auto& nodes = nfa_->nodes();
    const auto& sets = nfa_->sets();
    const auto size = static_cast<std::int32_t>(text.size());
    Scratch& s = scratch;
    s.prepare(text.size() + 1, wordsPerRow_);
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
            while (node >= 0) {
                const std::int32_t join = joins_[static_cast<std::size_t>(node)];
                if (join >= 0 && !s.firstVisit(join, at)) break;
                const auto& current = nodes[static_cast<std::size_t>(node)];
                switch (current.kind) {
                    case Kind::byteSet:
                        node = at < size && RegexNfa::contains(sets[current.set], byteAt(text, at)) ? current.out : -1;
                        ++at;
                        break;
                    case Kind::split: {
                        if (loopBody_[static_cast<std::size_t>(node)] >= 0) {
                            node = walkLoop(node, at, text);
                            break;
                        }
                        const unsigned char next = at < size ? byteAt(text, at) : 0;
                        const bool alternative = mayLead(current.alternative, next);
                        if (!mayLead(current.out, next)) {
                            node = alternative ? current.alternative : -1;
                        } else {
                            if (alternative) s.jobs.push_back({current.alternative, at});
                            node = current.out;
                        }
                        break;
                    }
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
