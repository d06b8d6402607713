// The constants of the engine's chunk form and its numbering of the Lua 5.1
// operations. This file is the one place that defines them: the engine's
// loader and pelto-tool's compiler both translate through these tables, so a
// chunk written by the tool always reads back the same in the engine.
#include "host/chunk_format.h"

#include <array>

const uint8_t kEngineChunkHeader[kChunkHeaderSize] = {
    0x04, 'P', 'R', 'G',  // signature: the byte 4 alone tells a chunk from anything else
    0x10,                 // format version
    0x01,                 // format variant
    0x01,                 // little-endian
    4,                    // integer field
    4,                    // length field
    4,                    // instruction
    8,                    // number (double)
    0,                    // numbers are floating point
};

namespace {

constexpr int kOpFieldValues = 64;  // an instruction's operation field has 6 bits

// The engine numbers standard operation s as (7*s + 5) mod 38. 7 is prime to
// 38, so this is a bijection; 6*s = 33 (mod 38) has no solution (33 is odd,
// 6 and 38 are even), so no operation keeps its standard number. Values
// 38-63 are no operation in either numbering and stay as they are, so the
// library's own code check still refuses them.
constexpr uint8_t EngineNumber(int standardOp) {
  return standardOp < kOperationCount ? static_cast<uint8_t>((7 * standardOp + 5) % kOperationCount)
                                      : static_cast<uint8_t>(standardOp);
}

struct OpTables {
  std::array<uint8_t, kOpFieldValues> toEngine{};
  std::array<uint8_t, kOpFieldValues> toStandard{};
};

constexpr OpTables BuildOpTables() {
  OpTables tables{};
  for (int op = 0; op < kOpFieldValues; ++op) {
    tables.toEngine[op] = EngineNumber(op);
    tables.toStandard[EngineNumber(op)] = static_cast<uint8_t>(op);
  }
  return tables;
}

constexpr OpTables kOpTables = BuildOpTables();

// Checked while compiling: both tables are inverse to each other (so the
// numbering is a bijection), no operation keeps its number, 38-63 are fixed.
constexpr bool OpTablesSound() {
  for (int op = 0; op < kOpFieldValues; ++op) {
    if (kOpTables.toStandard[kOpTables.toEngine[op]] != op) return false;
    if (kOpTables.toEngine[kOpTables.toStandard[op]] != op) return false;
    bool isOperation = op < kOperationCount;
    if (isOperation && kOpTables.toEngine[op] == op) return false;
    if (isOperation != (kOpTables.toEngine[op] < kOperationCount)) return false;
    if (!isOperation && kOpTables.toEngine[op] != op) return false;
  }
  return true;
}
static_assert(OpTablesSound(), "the engine's operation numbering must be a derangement of 0-37");

}  // namespace

uint8_t EngineOpFromStandard(uint8_t standardOp) { return kOpTables.toEngine[standardOp & 63]; }

uint8_t StandardOpFromEngine(uint8_t engineOp) { return kOpTables.toStandard[engineOp & 63]; }
