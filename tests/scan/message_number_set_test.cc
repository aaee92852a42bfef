#include "scan/message_number_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace twtrim {
namespace {

TEST(MessageNumberSetTest, CapacityIsAPowerOfTwoAboveTheRequestUpToTheCap) {
  struct Case {
    uint32_t requested, capacity;
  };
  const Case cases[] = {
      {0, 8},
      {8, 8},
      {9, 16},
      {2 * 2000000u + 1, 4194304},  // the scan's largest request
      {(1u << 30) + 1, 1u << 30},
      {0xFFFFFFFFu, 1u << 30},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MessageNumberSet::CapacityFor(c.requested), c.capacity) << c.requested;
  }
}

// Entries start zero-filled: an unoccupied entry must not read as key 0.
// Negative message numbers are keys like any other, and a repeat is refused
// (the duplicate count rests on it).
TEST(MessageNumberSetTest, KeyZeroNegativeNumbersAndRepeats) {
  MessageNumberSet set;
  set.Insert(0);  // before allocation: ignored, not a crash
  EXPECT_FALSE(set.Contains(0));
  ASSERT_TRUE(set.Allocate(7));
  EXPECT_FALSE(set.Contains(0));
  EXPECT_TRUE(set.Insert(0));
  const uint32_t minusFive = static_cast<uint32_t>(int32_t{-5});
  EXPECT_TRUE(set.Insert(minusFive));
  EXPECT_FALSE(set.Insert(minusFive));
  EXPECT_TRUE(set.Insert(0x80000000u));
  for (uint32_t key : {0u, minusFive, 0x80000000u}) EXPECT_TRUE(set.Contains(key)) << key;
  for (uint32_t key : {5u, 8u, 0x7FFFFFFFu}) EXPECT_FALSE(set.Contains(key)) << key;
}

TEST(MessageNumberSetTest, CollidingKeysProbeForwardAndWrapAround) {
  MessageNumberSet set;
  ASSERT_TRUE(set.Allocate(1));
  ASSERT_EQ(set.capacity(), 8u);
  // Keys that differ by a multiple of 8 share a home in a table of 8; the
  // one whose home is the last entry makes its followers wrap to entry 0.
  uint32_t last = 0;
  while (((last * 0x9E3779B1u) & 7u) != 7u) ++last;
  const std::vector<uint32_t> chain = {last, last + 8, last + 16};
  for (uint32_t key : chain) set.Insert(key);
  for (uint32_t key : chain) EXPECT_TRUE(set.Contains(key)) << key;
  EXPECT_FALSE(set.Contains(last + 24));
  // A key whose home is one of the entries the chain wrapped into.
  uint32_t first = 0;
  while (((first * 0x9E3779B1u) & 7u) != 0u) ++first;
  EXPECT_FALSE(set.Contains(first));
  set.Insert(first);
  EXPECT_TRUE(set.Contains(first));
  for (uint32_t key : chain) EXPECT_TRUE(set.Contains(key)) << key;
}

TEST(MessageNumberSetTest, LookupInAFullTableEndsAtItsHome) {
  MessageNumberSet set;
  ASSERT_TRUE(set.Allocate(1));
  for (uint32_t key = 100; key < 108; ++key) set.Insert(key);
  for (uint32_t key = 100; key < 108; ++key) EXPECT_TRUE(set.Contains(key));
  EXPECT_FALSE(set.Contains(99));  // would loop forever without the home check
  EXPECT_FALSE(set.Insert(99));    // and so would an insert into a full table
  EXPECT_FALSE(set.Contains(99));
}

TEST(MessageNumberSetTest, ManyKeysAtTheScanLoadFactor) {
  const uint32_t keys = 50000;
  MessageNumberSet set;
  ASSERT_TRUE(set.Allocate(2 * keys + 1));
  for (uint32_t i = 0; i < keys; ++i) set.Insert(i * 7919u);
  uint32_t found = 0, strays = 0;
  for (uint32_t i = 0; i < keys; ++i) found += set.Contains(i * 7919u);
  for (uint32_t i = 0; i < keys; ++i) strays += set.Contains(i * 7919u + 1);
  EXPECT_EQ(found, keys);
  EXPECT_EQ(strays, 0u);
}

}  // namespace
}  // namespace twtrim
