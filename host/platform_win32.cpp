// Start-up's platform services on Windows: the profile folder from the
// shell, the console of a GUI program, and the error box.
#include "host/platform.h"

#include <windows.h>
#include <shlobj.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/host.h"

namespace {

// The current user's local application-data folder (CSIDL_LOCAL_APPDATA,
// 28): no window, no token, the folder's current path.
bool LocalAppDataFolder(char* out, size_t size) {
  char path[MAX_PATH];
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return false;
  std::snprintf(out, size, "%s", path);
  return true;
}

// True if the standard handle leads somewhere (a console, a pipe, a file).
bool HandleUsable(DWORD which) {
  HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// True if the C runtime's stream leads somewhere. A GUI program started
// without a console has streams with no handle behind them.
bool StreamUsable(FILE* stream) {
  int fd = _fileno(stream);
  if (fd < 0) return false;
  intptr_t handle = _get_osfhandle(fd);
  return handle != -1 && handle != -2;
}

}  // namespace

void SettlePlatformProfilePath(int portableMode, char (&profilePath)[kProfilePathSize]) {
  SettleWindowsProfilePath(portableMode, LocalAppDataFolder,
                           [](const char* name) -> const char* { return std::getenv(name); }, profilePath);
}

void PlatformAttachConsole() {
  bool outUsable = HandleUsable(STD_OUTPUT_HANDLE);
  bool errUsable = HandleUsable(STD_ERROR_HANDLE);
  // Double-clicked, or started with its output redirected: nothing to do.
  if ((!outUsable || !errUsable) && AttachConsole(ATTACH_PARENT_PROCESS)) {
    if (!outUsable) std::freopen("CONOUT$", "w", stdout);
    if (!errUsable) std::freopen("CONOUT$", "w", stderr);
  }
  // Lines end in "\n" alone, as on Linux: a script's output and the error
  // lines are the same bytes on both systems, whoever reads them.
  if (StreamUsable(stdout)) _setmode(_fileno(stdout), _O_BINARY);
  if (StreamUsable(stderr)) _setmode(_fileno(stderr), _O_BINARY);
}

// Writes "Error: <message>" to stderr when the process has one, then shows
// the system's own modal box, unless PELTO_NO_DIALOG=1.
void ShowErrorBox(const char* message) {
  if (StreamUsable(stderr)) {
    std::fprintf(stderr, "Error: %s\n", message);
    std::fflush(stderr);
  }
  const char* off = std::getenv("PELTO_NO_DIALOG");
  if (off && std::strcmp(off, "1") == 0) return;
  MessageBoxA(nullptr, message, "Error", MB_OK | MB_ICONERROR);
}
