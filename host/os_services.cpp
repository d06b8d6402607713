// Folder creation and listing for scripts, with the modified-time text built
// by hand so it never depends on the locale.
#include "host/os_services.h"

#if !defined(_WIN32)
#include <dirent.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

const char* const kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

const char* UsablePath(const char* text, size_t length) {
  if (!text || std::strlen(text) != length) return nullptr;
  return text;
}

// Folder creation and listing through the Windows file API are in
// host/os_services_win32.cpp.
#if !defined(_WIN32)
bool EnsureDirectory(const char* path) {
  if (!path) return false;
  struct stat info;
  if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) return true;
  if (mkdir(path, 0777) == 0) return true;  // the umask trims the mode as for any folder
  // Something of that name exists already; a regular file counts too, and is
  // left untouched.
  return errno == EEXIST;
}

#endif

std::string FormatModified(time_t when) {
  struct tm local;
#if defined(_WIN32)
  if (localtime_s(&local, &when) != 0) return std::string();
#else
  if (!localtime_r(&when, &local)) return std::string();
#endif
  if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
    return std::string();
  }
  int hour = local.tm_hour % 12;
  if (hour == 0) hour = 12;  // 12-hour clock: midnight is 12AM, noon 12PM
  // The year is taken wide: tm_year + 1900 can exceed an int for far times.
  long long year = static_cast<long long>(local.tm_year) + 1900;
  char text[32];
  int length = std::snprintf(text, sizeof text, "%d:%02d%s %s, %s %d %lld", hour, local.tm_min,
                             local.tm_hour < 12 ? "AM" : "PM", kWeekdays[local.tm_wday],
                             kMonths[local.tm_mon], local.tm_mday, year);
  if (length < 0) return std::string();
  return std::string(text);  // snprintf cut it to 31 characters if it were longer
}

int32_t ClampFileSize(int64_t size) {
  if (size > INT32_MAX) return INT32_MAX;
  return size < 0 ? 0 : static_cast<int32_t>(size);
}

#if !defined(_WIN32)
bool ScanFolder(const char* path, std::vector<DirectoryEntry>* entries) {
  entries->clear();
  if (!path) return false;
  DIR* folder = opendir(path);
  if (!folder) return false;
  // One "now" for the whole listing, so ages of equal times are equal.
  time_t now = time(nullptr);
  tzset();  // pick up TZ before the first conversion
  int folderFd = dirfd(folder);
  for (;;) {
    errno = 0;
    struct dirent* item = readdir(folder);
    if (!item) break;  // the end, or a read error: keep what was listed so far
    const char* name = item->d_name;
    if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
    // Status relative to the open folder: no joined path that could be cut
    // or name another file. Symbolic links are followed, so a link to a
    // file lists as that file and a dangling link is left out.
    struct stat info;
    if (fstatat(folderFd, name, &info, 0) != 0) continue;
    bool isFolder = S_ISDIR(info.st_mode);
    if (!isFolder && !S_ISREG(info.st_mode)) continue;
    DirectoryEntry entry;
    entry.name = name;
    entry.directory = isFolder;
    entry.size = ClampFileSize(static_cast<int64_t>(info.st_size));
    entry.age = difftime(now, info.st_mtime);
    entry.modified = FormatModified(info.st_mtime);
    entries->push_back(std::move(entry));
  }
  closedir(folder);
  // The file system's own order differs between systems and even between
  // runs; scripts get the same listing everywhere.
  std::sort(entries->begin(), entries->end(),
            [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
  return true;
}
#endif
