// Operating-system services for scripts: making sure a folder exists and
// listing a folder with the details scripts see. Plain logic without Lua;
// host/os_api.cpp turns the records into Lua values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A path as scripts pass it: the text, or nullptr when there is none or it
// holds a NUL byte (no file name does, and the name would be cut there).
const char* UsablePath(const char* text, size_t length);

// One listed entry, with the values the script's entry table gets.
struct DirectoryEntry {
  std::string name;      // without the folder
  bool directory;        // true for a folder, false for a regular file
  int32_t size;          // bytes, clamped to 2147483647
  double age;            // seconds from the last modification to the listing; negative if in the future
  std::string modified;  // e.g. "2:07PM Tue, Sep 3 2013"; "" when the time cannot be converted
};

// True if `path` is a folder afterwards or something of that name already
// existed (a regular file too: nothing is created then). One level only: a
// missing parent makes it fail. A nullptr path gives false.
bool EnsureDirectory(const char* path);

// Lists the regular files and folders of `path`, sorted by name (byte order),
// without "." and "..". Entries whose status cannot be read, and other kinds
// of entries, are left out. False if `path` (nullptr too) cannot be opened as
// a folder.
bool ScanFolder(const char* path, std::vector<DirectoryEntry>* entries);

// Local time as "h:MMAM Www, Mmm d yyyy", always in English whatever the
// locale; "" if the time cannot be converted to local time. At most 31
// characters.
std::string FormatModified(time_t when);

// A file size as the 32-bit signed count scripts get: 2 GiB or more reads
// 2147483647.
int32_t ClampFileSize(int64_t size);
