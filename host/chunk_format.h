// The engine's precompiled chunk form: the Lua 5.1 precompiled form with its
// own 12-byte header, string bytes XORed with a key and its own numbering of
// the 38 operations. Shared by the engine's loader and pelto-tool.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kChunkHeaderSize = 12;
extern const uint8_t kEngineChunkHeader[kChunkHeaderSize];  // 04 'P' 'R' 'G' 10 01 01 04 04 04 08 00
constexpr uint8_t kChunkStringKey = 0xD6;
constexpr int kOperationCount = 38;

// Engine operation number of a standard Lua 5.1 operation (0-37), and back.
// Numbers 38-63 are no operation in either numbering and map to themselves.
uint8_t EngineOpFromStandard(uint8_t standardOp);
uint8_t StandardOpFromEngine(uint8_t engineOp);
