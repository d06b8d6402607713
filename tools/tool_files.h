// File helpers of the build commands: whole-file reads and writes that
// replace their target in one rename, creating the folders on the way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads a whole file. On failure `problem` reads "cannot read PATH: reason".
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem);

// Writes through a temporary file beside the target and a rename, so that
// readers see the old file or the new one, never a part. The target's
// folders are created first. On failure `problem` reads "cannot write PATH: reason".
bool WriteFileReplacing(const std::string& path, const std::vector<uint8_t>& bytes, std::string* problem);

// A 64-bit FNV-1a hash, for cache keys (not for anything an attacker picks).
uint64_t ContentHash(const void* data, size_t size, uint64_t hash = 0xcbf29ce484222325ull);
