// Translation between the engine's chunk form and the Lua library's standard
// precompiled form of this machine (as lua_dump writes it: 8-byte lengths).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class ChunkError {
  None,
  BadHeader,
  UnexpectedEnd,
  BadInteger,
  BadConstant,
  CodeTooDeep,
  BadCode,
  NotPrecompiled,  // the input does not begin with the form's signature byte
  OutOfMemory,     // the translation could not be held in memory
};

// The reason text of a load error ("bad header", "unexpected end", ...).
const char* ChunkErrorReason(ChunkError error);

// Engine form -> standard form. On success returns ChunkError::None and the
// whole translation in `standard`. On failure `standard` holds the translated
// prefix up to the fault (empty for header faults and for input that does not
// begin with the byte 4), with every count that was open at the fault trimmed
// to the items begun (the one cut short counts), so that the library's own
// loader reads it to the same point: it then reports any earlier "bad code"
// or "code too deep" itself, and otherwise runs out ("unexpected end"), in
// which case the caller reports the returned reason.
ChunkError TranslateEngineChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* standard);

// Standard form (lua_dump's output on this machine) -> engine form, with the
// same checks; anything that is not the standard form of this machine fails
// and `engine` is then left empty.
ChunkError TranslateStandardChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* engine);

// The standard precompiled header of this machine, as lua_dump writes it.
extern const uint8_t kStandardChunkHeader[12];

// Nesting of function records beyond which the translator itself gives up
// with "code too deep"; above the library's own limit (200), so the library
// decides first and the translator's recursion stays bounded.
constexpr int kChunkMaxNesting = 250;
