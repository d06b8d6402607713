// The engine's chunk header and its numbering of the operations.
#include <set>

#include <gtest/gtest.h>

#include "host/chunk_format.h"

namespace {

TEST(ChunkFormat, HeaderIsTheEnginesOwn) {
  const uint8_t expected[kChunkHeaderSize] = {0x04, 'P', 'R', 'G', 0x10, 0x01, 0x01, 4, 4, 4, 8, 0};
  for (size_t i = 0; i < kChunkHeaderSize; ++i) EXPECT_EQ(kEngineChunkHeader[i], expected[i]) << i;
  EXPECT_EQ(kChunkStringKey, 0xD6);
}

TEST(OperationNumbering, IsABijectionOfTheThirtyEightOperations) {
  std::set<int> seen;
  for (int op = 0; op < kOperationCount; ++op) {
    uint8_t engine = EngineOpFromStandard(uint8_t(op));
    EXPECT_LT(engine, kOperationCount);
    seen.insert(engine);
    EXPECT_EQ(StandardOpFromEngine(engine), op);
  }
  EXPECT_EQ(seen.size(), size_t(kOperationCount));
}

TEST(OperationNumbering, NoOperationKeepsItsStandardNumber) {
  for (int op = 0; op < kOperationCount; ++op) EXPECT_NE(EngineOpFromStandard(uint8_t(op)), op) << op;
}

TEST(OperationNumbering, NumbersBeyondTheOperationsStayInvalid) {
  for (int op = kOperationCount; op < 64; ++op) {
    EXPECT_EQ(EngineOpFromStandard(uint8_t(op)), op);
    EXPECT_EQ(StandardOpFromEngine(uint8_t(op)), op);
  }
}

TEST(OperationNumbering, IsTheFixedOrderSharedByEngineAndTool) {
  // A chunk written today must load in every later engine: pin a few values.
  EXPECT_EQ(EngineOpFromStandard(0), 5);    // MOVE
  EXPECT_EQ(EngineOpFromStandard(30), 25);  // RETURN
  EXPECT_EQ(EngineOpFromStandard(34), 15);  // SETLIST
  EXPECT_EQ(EngineOpFromStandard(37), 36);  // VARARG
}

}  // namespace
