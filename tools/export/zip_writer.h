// A zip archive in memory: each entry deflated with zlib (or stored when
// deflating does not make it smaller), then the central directory. Plain
// logic without file I/O, so tests build and read archives in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipEntry {
  std::string name;            // path inside the archive, '/' between folders
  std::vector<uint8_t> bytes;  // the file's contents
  bool executable = false;     // marked rwxr-xr-x for unzip on Unix systems
};

// Local date and time in MS-DOS form, as zip entries carry them.
struct ZipTime {
  uint16_t time = 0;        // hour << 11 | minute << 5 | second / 2
  uint16_t date = 0x21;     // (year - 1980) << 9 | month << 5 | day; 1980-01-01 by default
};

// Appends the whole archive to `out`. False with `error` set when an entry
// or the archive is too large for a zip without the 64-bit extension
// (4 GiB, 65535 entries) or a name is empty or longer than 65535 bytes.
bool BuildZip(const std::vector<ZipEntry>& entries, ZipTime when, std::vector<uint8_t>* out, std::string* error);
