#include "tools/file_replace.h"

#include <cerrno>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>

int RenameOver(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return -1;
}
#else
int RenameOver(const char* from, const char* to) { return std::rename(from, to); }
#endif
