// The bank slot table and byte/word access at the edges of banks and table.
#include <climits>

#include <gtest/gtest.h>

#include "banks/bank.h"

namespace {

class BankTable : public ::testing::Test {
 protected:
  void SetUp() override { ClearBanks(); }
  void TearDown() override { ClearBanks(); }

  static int Create(int32_t size) {
    BankStatus status;
    return BankCreate(size, &status);
  }
};

TEST_F(BankTable, SlotsAreTakenLowestFirstUpToEight) {
  BankStatus status;
  EXPECT_EQ(BankCreate(-1, &status), -1);  // a negative size takes nothing
  EXPECT_EQ(status, BankStatus::OutOfMemory);
  for (int i = 0; i < kBankSlots; ++i) EXPECT_EQ(Create(i), i);
  EXPECT_EQ(BankCreate(1, &status), -1);
  EXPECT_EQ(status, BankStatus::NoSlot);
  BankDelete(3);
  EXPECT_EQ(BankAt(3)->data, nullptr);
  EXPECT_EQ(Create(0), 3);
  EXPECT_NE(BankAt(3)->data, nullptr);  // an empty bank still holds its slot
  ClearBanks();
  for (int i = 0; i < kBankSlots; ++i) EXPECT_EQ(BankAt(i)->data, nullptr);
}

TEST_F(BankTable, WordsReachTheLastValidOffsetAndNoFurther) {
  int slot = Create(4);
  BankDoke(slot, 2, 0x1BEEF);  // bits above 15 are dropped
  EXPECT_EQ(BankDeek(slot, 2), 0xBEEF);
  EXPECT_EQ(BankPeek(slot, 2), 0xEF);
  BankPoke(slot, 3, 0x11);
  BankDoke(slot, 3, 0xFFFF);  // offset + 1 is outside: nothing is written
  EXPECT_EQ(BankPeek(slot, 3), 0x11);
  EXPECT_EQ(BankDeek(slot, 3), 0);
  EXPECT_EQ(BankDeek(slot, INT32_MAX), 0);  // offset + 1 must not wrap around
  BankDoke(slot, INT32_MAX, 1);
}

TEST_F(BankTable, OffsetsOutsideTheBankReadZeroAndWriteNothing) {
  int slot = Create(8);
  for (int i = 0; i < 8; ++i) BankPoke(slot, i, 0xA0 + i);
  for (int32_t offset : {-1, 8, 9, INT32_MAX, INT32_MIN}) {
    BankPoke(slot, offset, 1);
    BankDoke(slot, offset, 1);
    EXPECT_EQ(BankPeek(slot, offset), 0) << offset;
    EXPECT_EQ(BankDeek(slot, offset), 0) << offset;
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(BankPeek(slot, i), 0xA0 + i);
}

TEST_F(BankTable, FreeSlotsAndNumbersOutsideTheTableAreInert) {
  int slot = Create(2);
  BankPoke(slot, 0, 9);
  for (int32_t other : {1, 7, -1, 8, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(BankSizeOf(other), 0) << other;
    EXPECT_EQ(BankPeek(other, 0), 0) << other;
    EXPECT_EQ(BankDeek(other, 0), 0) << other;
    BankPoke(other, 0, 1);
    BankDoke(other, 0, 1);
    BankDelete(other);
  }
  EXPECT_EQ(BankAt(8), nullptr);
  EXPECT_EQ(BankAt(-1), nullptr);
  EXPECT_EQ(BankPeek(slot, 0), 9);
  EXPECT_EQ(BankSizeOf(slot), 2);
}

}  // namespace
