#include "handle_registry.hpp"

#include <gtest/gtest.h>

#include <set>

using common::HandleRegistry;

TEST(HandleRegistry, TokensCarryTheTagAndFindTheirObject) {
    HandleRegistry registry('T');
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
    HandleRegistry registry('T');
    HandleRegistry other('C');
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
    HandleRegistry registry('T');
    int a = 0;
    std::set<std::uint32_t> seen;
    for (int i = 0; i < 1000; ++i) {
        const auto token = registry.add(&a);
        EXPECT_TRUE(seen.insert(token).second);
        registry.remove(token);
    }
}

TEST(HandleRegistry, SerialWrapSkipsLiveTokensAndZero) {
    HandleRegistry registry('T');
    int a = 0;
    const auto first = registry.add(&a);  // serial 1 stays live
    std::uint32_t token = first;
    for (std::uint32_t i = 1; i < HandleRegistry::serialMask; ++i) {
        token = registry.add(&a);
        registry.remove(token);
    }
    EXPECT_EQ(token & HandleRegistry::serialMask, HandleRegistry::serialMask);
    const auto wrapped = registry.add(&a);
    EXPECT_EQ(wrapped & HandleRegistry::serialMask, 2u);
    EXPECT_EQ(registry.find(first), &a);
}
