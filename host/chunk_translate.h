// Translation between the engine's chunk form and the Lua library's standard
// precompiled form of this machine (as lua_dump writes it: 8-byte lengths).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class ChunkError { None, BadHeader, UnexpectedEnd, BadInteger, BadConstant, CodeTooDeep, BadCode, NotPrecompiled };

// The reason text of a load error ("bad header", "unexpected end", ...).
const char* ChunkErrorReason(ChunkError error);

// Engine form -> standard form. On success returns ChunkError::None and the
// whole translation in `standard`. On failure `standard` holds the translated
// prefix up to the fault (empty for header faults), with every count that was
// open at the fault trimmed to the items present, so that the library's own
// loader reads it to the same point: it then reports any earlier "bad code"
// or "code too deep" itself, and otherwise runs out ("unexpected end"), in
// which case the caller reports the returned reason.
ChunkError TranslateEngineChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* standard);

// Standard form (lua_dump's output on this machine) -> engine form.
ChunkError TranslateStandardChunk(const uint8_t* data, size_t size, std::vector<uint8_t>* engine);
