// Decoder of the packed entry stream (an LZ77 bit stream read backwards).
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kBlockHeaderSize = 12;  // unpacked size, block size, check word

// Unpacks a complete block (header included, blockSize bytes) into output,
// which has room for exactly outputSize bytes. Returns true when the check
// word matches and the stream is well formed; a stream that would write below
// the output, copy from beyond it or read into the header gives false. Never
// reads or writes outside the two buffers.
bool UnpackEntry(const uint8_t* block, size_t blockSize, uint8_t* output, size_t outputSize);

// The largest unpacked size that a block of blockSize bytes can possibly
// produce (every bit of it spent on 256-byte matches). A header that claims
// more is damaged; the loader refuses it before allocating the output.
uint64_t MaxUnpackedSize(size_t blockSize);

// The loader's checks of a block header before anything is allocated: a
// stream word at least, whole words, an unpacked size of 1 to 2^31 - 1 that
// the block could produce. Whether the block fits its file is the caller's.
bool BlockSizesPlausible(uint32_t unpackedSize, uint32_t blockSize);
