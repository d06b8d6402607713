// The 32-bit hash that names archive entries: MurmurHash3 x86_32, seed 735.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t kNameHashSeed = 735;

uint32_t MurmurHash3_x86_32(const void* data, size_t length, uint32_t seed);

// Hash of an entry name, byte for byte, without its terminating zero.
uint32_t NameHash(const char* name, size_t length);
