// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/foundation/NfaBacktracker.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdint>
#include <vector>

namespace tessaril {

namespace {

using Kind = RegexNfa::Kind;

// A node still to try at an offset, or (node below zero) a capture slot to put back as it was
// when the walk backs out past the save node that changed it. A job with `low` at zero or above tries
// its node at `offset`, then at each offset below it down to `low`: what a greedy loop over one set
// leaves behind, one job for the whole run instead of one per byte.
struct Job {
    std::int32_t node;
    std::int32_t offset;
    std::int32_t low = -1;
};

constexpr std::int32_t restoreSlot(std::uint16_t slot) {
    return -1 - static_cast<std::int32_t>(slot);
}

// The explored pairs in blocks of 64 offsets: in each block one word per join, a bit per offset, so
// that a run of offsets is marked and checked a word at a time. Blocks are cleared when first touched
// in a walk, not all at once: a match near the start of a long text costs only the blocks it reached.
struct Scratch {
    std::vector<std::uint64_t> visited;
    std::vector<std::uint32_t> blockGeneration;
    std::uint32_t generation = 0;
    std::size_t joins = 0;
    std::vector<Job> jobs;
    std::vector<std::int32_t> slots;

    // Without a join to record (a pattern without repetition or alternatives), no blocks at all.
    void prepare(std::size_t blocks, std::size_t joinCount) {
        joins = joinCount;
        if (joins > 0 && visited.size() < blocks * joins) visited.resize(blocks * joins);
        if (joins > 0 && blockGeneration.size() < blocks) blockGeneration.resize(blocks, 0);
        if (++generation == 0) {
            std::fill(blockGeneration.begin(), blockGeneration.end(), 0);
            generation = 1;
        }
        jobs.clear();
    }

    std::uint64_t& word(std::int32_t join, std::int32_t offset) {
        const auto block = static_cast<std::size_t>(offset) >> 6;
        std::uint64_t* words = visited.data() + block * joins;
        if (blockGeneration[block] != generation) {
            std::fill(words, words + joins, 0);
            blockGeneration[block] = generation;
        }
        return words[static_cast<std::size_t>(join)];
    }

    // Marks the pair explored; false when it already was.
    bool firstVisit(std::int32_t join, std::int32_t offset) {
        std::uint64_t& bits = word(join, offset);
        const std::uint64_t mask = std::uint64_t{1} << (offset & 63);
        if ((bits & mask) != 0) return false;
        bits |= mask;
        return true;
    }

    // Marks the pairs from `from` to `last` explored, up to the first that already was: returns that
    // one's offset, or last + 1.
    std::int32_t visitRun(std::int32_t join, std::int32_t from, std::int32_t last) {
        for (std::int32_t at = from; at <= last;) {
            std::uint64_t& bits = word(join, at);
            const std::int32_t blockStart = at & ~63;
            const int high = std::min(last - blockStart, 63);
            const std::uint64_t mask = (~std::uint64_t{0} << (at & 63)) & (~std::uint64_t{0} >> (63 - high));
            if (const std::uint64_t seen = bits & mask; seen != 0) {
                const int first = std::countr_zero(seen);
                bits |= mask & ((std::uint64_t{1} << first) - 1);
                return blockStart + first;
            }
            bits |= mask;
            at = blockStart + 64;
        }
        return last + 1;
    }
};

// One per thread, shared by every backtracker: Regex objects must not be shared between threads at
// once, but two of them may well run at the same time on two threads.
thread_local Scratch scratch;

std::size_t blocksFor(std::size_t textSize) {
    return (textSize + 1 + 63) / 64;
}

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
    joinCount_ = static_cast<std::size_t>(joins);
    assignLeads();
    loopOf_.assign(nodes.size(), -1);
    for (std::size_t n = 0; n < nodes.size(); ++n) {
        if (nodes[n].kind != Kind::split) continue;
        for (const std::int32_t branch : {nodes[n].out, nodes[n].alternative}) {
            const auto& body = nodes[static_cast<std::size_t>(branch)];
            if (body.kind != Kind::byteSet || body.out != static_cast<std::int32_t>(n)) continue;
            Loop loop;
            loop.body = branch;
            loop.greedy = nodes[n].out == branch;
            loop.leave = loop.greedy ? nodes[n].alternative : nodes[n].out;
            // Every cycle passes through a join: the split for "[^&]*", the set's node for "[^&]+".
            loop.joinsAtSplit = joins_[n] >= 0;
            loop.join = loop.joinsAtSplit ? joins_[n] : joins_[static_cast<std::size_t>(branch)];
            // Byte 0 never occurs in a text answered here, so it stands for the end of the text;
            // nor does any byte past ASCII, whose steps stay empty.
            for (std::size_t byte = 0; byte < 128; ++byte) {
                const auto next = static_cast<unsigned char>(byte);
                const bool again = byte != 0 && RegexNfa::contains(nfa_->sets()[body.set], next);
                loop.steps[byte] =
                    static_cast<std::uint8_t>((again ? stayBit : 0) | (mayLead(loop.leave, next) ? leaveBit : 0));
            }
            loopOf_[n] = static_cast<std::int32_t>(loops_.size());
            loops_.push_back(loop);
            break;
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

std::int32_t NfaBacktracker::walkLoop(const Loop& loop, std::int32_t& at, std::string_view text) const {
    const auto size = static_cast<std::int32_t>(text.size());
    const auto step = [&](std::int32_t offset) { return loop.steps[offset < size ? byteAt(text, offset) : 0]; };
    // The iterations from `at` to `end` pass the split at offsets at + 1 to end (its own at `at` is
    // already recorded), or the set's node at offsets at to end - 1: those are the pairs recorded.
    // An offset already explored ends the walk there, as it would have ended the walk byte by byte.
    const std::int32_t shift = loop.joinsAtSplit ? 1 : 0;
    const auto visitIterations = [&](std::int32_t end) {
        return scratch.visitRun(loop.join, at + shift, end - 1 + shift) - shift;
    };
    std::int32_t end = at;
    if (loop.greedy) {
        // As many iterations as the run allows, then leaving at each offset from the last back to
        // this one: a single job.
        while (end < size && (step(end) & stayBit) != 0)
            ++end;
        scratch.jobs.push_back({loop.leave, visitIterations(end), at});
        return -1;
    }
    // Leaving first, so on to the first offset where leaving may succeed or staying cannot.
    while (end < size && step(end) == stayBit)
        ++end;
    if (visitIterations(end) < end) return -1;
    at = end;
    const std::uint8_t next = step(end);
    if ((next & leaveBit) == 0) return -1;
    if ((next & stayBit) != 0) scratch.jobs.push_back({loop.body, end});
    return loop.leave;
}

bool NfaBacktracker::answers(std::string_view text) const {
    if (!nfa_->capturesExact() || text.size() >= static_cast<std::size_t>(INT32_MAX)) return false;
    if (joinCount_ * 64 * blocksFor(text.size()) > visitBudget) return false;
    const auto& classes = nfa_->byteClasses();
    return std::all_of(text.begin(), text.end(), [&](char c) { return classes[static_cast<unsigned char>(c)] != 0; });
}

std::optional<RegexMatch> NfaBacktracker::find(std::string_view text, std::size_t from) const {
    const auto& nodes = nfa_->nodes();
    const auto& sets = nfa_->sets();
    const auto size = static_cast<std::int32_t>(text.size());
    Scratch& s = scratch;
    s.prepare(blocksFor(text.size()), joinCount_);
    s.slots.assign(2 * (nfa_->captureCount() + 1), -1);
    const std::size_t lastStart = nfa_->anchoredAtStart() ? 0 : text.size();
    for (std::size_t start = from; start <= lastStart; ++start) {
        // Offsets from which no match can begin are passed over without a walk.
        if (!mayLead(nfa_->start(), start < text.size() ? static_cast<unsigned char>(text[start]) : 0)) continue;
        s.jobs.push_back({nfa_->start(), static_cast<std::int32_t>(start)});
        while (!s.jobs.empty()) {
            auto [node, at, low] = s.jobs.back();
            s.jobs.pop_back();
            if (node < 0) {
                s.slots[static_cast<std::size_t>(-1 - node)] = at;
                continue;
            }
            if (low >= 0) {
                // A run left by a greedy loop: the highest offset from which the node may go on.
                while (at >= low && !mayLead(node, at < size ? byteAt(text, at) : 0))
                    --at;
                if (at < low) continue;
                if (at > low) s.jobs.push_back({node, at - 1, low});
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
                        if (const std::int32_t loop = loopOf_[static_cast<std::size_t>(node)]; loop >= 0) {
                            node = walkLoop(loops_[static_cast<std::size_t>(loop)], at, text);
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
