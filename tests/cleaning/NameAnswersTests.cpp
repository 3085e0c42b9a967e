// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/cleaning/NameAnswers.h"

#include <gtest/gtest.h>

#include <string>

namespace tessaril {
namespace {

TEST(NameAnswers, FindsWhatWasAddedEvenWhenHashesCollide) {
    NameAnswers<int> answers(8);
    // Equal hashes put the names in neighbouring slots; each is still found by its own name.
    answers.add("utm_source", 5).answer = 1;
    answers.add("utm_medium", 5).answer = 2;
    answers.add("gclid", 6).answer = 3;
    ASSERT_NE(answers.find("utm_source", 5), nullptr);
    EXPECT_EQ(answers.find("utm_source", 5)->answer, 1);
    EXPECT_EQ(answers.find("utm_medium", 5)->answer, 2);
    EXPECT_EQ(answers.find("gclid", 6)->answer, 3);
    EXPECT_EQ(answers.find("gclid", 5), nullptr);
    EXPECT_EQ(answers.find("fbclid", 6), nullptr);
    // A slot index past the end wraps around to the start.
    answers.add("last", ~std::size_t{0}).answer = 4;
    answers.add("wrapped", ~std::size_t{0}).answer = 5;
    EXPECT_EQ(answers.find("wrapped", ~std::size_t{0})->answer, 5);
}

TEST(NameAnswers, EmptiesItselfWhenFullAndKeepsEntriesInPlaceUntilThen) {
    NameAnswers<std::string> answers(4);
    const auto* first = &answers.add("a", 1);
    for (std::size_t i = 2; i <= 4; ++i)
        answers.add("n" + std::to_string(i), i).answer = "x";
    // Adding did not move the first entry, whose name views are handed out.
    EXPECT_EQ(answers.find("a", 1), first);
    EXPECT_EQ(answers.size(), 4U);
    answers.add("e", 5).answer = "y";
    EXPECT_EQ(answers.size(), 1U);
    EXPECT_EQ(answers.find("a", 1), nullptr);
    EXPECT_EQ(answers.find("e", 5)->answer, "y");
    // Many more names than room: the table never holds more than its capacity, and always finds
    // the name just added.
    for (std::size_t i = 0; i < 1000; ++i) {
        const std::string name = "p" + std::to_string(i);
        answers.add(name, i * 7919).answer = name;
        ASSERT_LE(answers.size(), 4U);
        ASSERT_NE(answers.find(name, i * 7919), nullptr) << name;
    }
}

}  // namespace
}  // namespace tessaril
