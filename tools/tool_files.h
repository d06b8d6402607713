// File helpers shared by pelto-tool's commands: output folders are created
// on demand, and outputs replace their targets in one rename.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Creates the folders above `path` that do not exist yet (like mkdir -p of
// its parent). On failure *problem reads "cannot create folder F: reason".
bool CreateParentFolders(const std::string& path, std::string* problem);

// Writes the bytes to a temporary file beside `path`, then renames it over
// `path`, creating the folders above it first. A failed write leaves an older
// file untouched and no temporary file behind. On failure *problem reads
// "cannot write PATH: reason".
bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* problem);

// Reads a whole file; on failure *problem reads "cannot read PATH: reason".
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem);
