// Folder creation and listing for scripts through the Windows file API,
// with the listing rules of every system: sorted by name, "." and ".."
// left out, sizes clamped, times in English (FormatModified).
#include "host/os_services.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <ctime>

namespace {

// 100-nanosecond ticks from 1601-01-01 (FILETIME) to seconds from 1970.
time_t UnixTime(const FILETIME& when) {
  int64_t ticks = (static_cast<int64_t>(when.dwHighDateTime) << 32) | when.dwLowDateTime;
  constexpr int64_t kTicksTo1970 = 116444736000000000LL;
  return static_cast<time_t>((ticks - kTicksTo1970) / 10000000LL);
}

bool IsFolder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool EnsureDirectory(const char* path) {
  if (!path) return false;
  if (IsFolder(path)) return true;
  if (CreateDirectoryA(path, nullptr)) return true;
  // A file of that name counts too, and is left untouched; a missing parent
  // folder (ERROR_PATH_NOT_FOUND) does not.
  return GetLastError() == ERROR_ALREADY_EXISTS;
}

bool ScanFolder(const char* path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  // The pattern below would make "" list the drive's root and a name with
  // * or ? list matching entries; only a real folder is listed.
  if (!path || !*path || !IsFolder(path)) return false;
  std::string pattern = path;
  char last = pattern.back();
  if (last != '/' && last != '\\' && last != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA item;
  HANDLE find = FindFirstFileA(pattern.c_str(), &item);
  if (find == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty drive root lists nothing
  }
  // One "now" for the whole listing, so ages of equal times are equal.
  time_t now = time(nullptr);
  _tzset();
  do {
    const char* name = item.cFileName;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    bool isFolder = (item.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (item.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) continue;  // neither file nor folder
    DirectoryEntry entry;
    entry.name = name;
    entry.directory = isFolder;
    entry.size = ClampFileSize((static_cast<int64_t>(item.nFileSizeHigh) << 32) | item.nFileSizeLow);
    time_t modified = UnixTime(item.ftLastWriteTime);
    entry.age = difftime(now, modified);
    entry.modified = FormatModified(modified);
    entries->push_back(std::move(entry));
  } while (FindNextFileA(find, &item));
  FindClose(find);
  std::sort(entries->begin(), entries->end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return true;
}
