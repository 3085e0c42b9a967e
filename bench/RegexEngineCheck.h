// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace tessaril::bench {

// Compares every answer of the engine and of each RE2 variant over the whole corpus and prints each
// link they answer differently; then the same on links made to meet where ICU's semantics and RE2's
// part, and the heap each side holds. Returns 0 when the corpus answers agree, 1 when they do not,
// 2 without the rules or the corpus.
int runRegexEngineCheck();

}  // namespace tessaril::bench
