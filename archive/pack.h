// Encoder of the packed entry stream: the inverse of UnpackEntry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Packs data (size >= 1) into a complete block, header included, that
// UnpackEntry turns back into the same bytes. Uses an optimal parse.
std::vector<uint8_t> PackEntry(const uint8_t* data, size_t size);
