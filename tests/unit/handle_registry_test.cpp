#include "handle_registry.hpp"

#include <gtest/gtest.h>

#include <set>

using common::HandleRegistry;

TEST(HandleRegistry, TokensCarryTheTagAndFindTheirObject) {
    HandleRegistry registry('T', 1);
    int a = 0, b = 0;
    const auto ta = registry.add(&a);
    const auto tb = registry.add(&b);
    EXPECT_NE(ta, tb);
    EXPECT_EQ(ta >> 24, std::uint32_t{'T'});
    EXPECT_EQ(registry.find(ta), &a);
    EXPECT_EQ(registry.find(tb), &b);
    EXPECT_EQ(registry.size(), 2u);
}

TEST(HandleRegistry, RemovedZeroForeignAndMadeUpTokensNameNothing) {
    HandleRegistry registry('T', 1);
    HandleRegistry other('C', 1);
    int a = 0;
    const auto token = registry.add(&a);
    const auto foreign = other.add(&a);
    EXPECT_EQ(registry.find(foreign), nullptr);
    EXPECT_EQ(registry.find(0), nullptr);
    EXPECT_EQ(registry.find(token + 1), nullptr);
    EXPECT_EQ(registry.remove(token), &a);
    EXPECT_EQ(registry.find(token), nullptr);
    EXPECT_EQ(registry.remove(token), nullptr);
    EXPECT_EQ(registry.size(), 0u);
}

TEST(HandleRegistry, DeletedTokensAreNotReissuedSoon) {
    HandleRegistry registry('T', 1);
    int a = 0;
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto token = registry.add(&a);
        EXPECT_TRUE(seen.insert(token).second);
        registry.remove(token);
    }
}

TEST(HandleRegistry, CountsFromTheGivenSerialAndWrapsPastLiveTokensAndZero) {
    constexpr std::uint32_t mask = HandleRegistry::serialMask;
    EXPECT_EQ(HandleRegistry('T', 0x12000000u).add(nullptr), std::uint32_t{'T'} << 24 | 1u);
    HandleRegistry registry('T', mask - 1);
    int a = 0, b = 0;
    const auto first = registry.add(&a);
    EXPECT_EQ(first & mask, mask - 1);
    const auto last = registry.add(&b);
    EXPECT_EQ(last & mask, mask);
    EXPECT_EQ(registry.add(&a) & mask, 1u);
    // Serial 1 stays live: the whole range round, the next one skips it and
    // the two other live ones.
    for (std::uint32_t i = 3; i < mask; ++i) registry.remove(registry.add(&a));
    EXPECT_EQ(registry.add(&a) & mask, 2u);
    EXPECT_EQ(registry.find(first), &a);
    EXPECT_EQ(registry.find(last), &b);
}
