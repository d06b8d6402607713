// Memory banks: the slot table, byte and word access, loading whole files and
// saving them so that a failed save never costs the previous file.
#include "banks/bank.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

Bank gBanks[kBankSlots];  // process-wide; main thread only

int LowestFreeSlot() {
  for (int i = 0; i < kBankSlots; ++i) {
    if (!gBanks[i].data) return i;
  }
  return -1;
}

// The `count` bytes at `offset` of a taken slot, or nullptr when any of them
// lies outside the bank. The sum is taken in 64 bits so offset + 1 cannot wrap.
uint8_t* BankBytes(int32_t slot, int32_t offset, int count) {
  if (slot < 0 || slot >= kBankSlots) return nullptr;
  const Bank& bank = gBanks[slot];
  if (!bank.data || offset < 0) return nullptr;
  if (static_cast<int64_t>(offset) + count > bank.size) return nullptr;
  return bank.data + offset;
}

#if !defined(_WIN32)
// Writes all `size` bytes, going on after interrupted or partial writes;
// false as soon as the system refuses (full disk, file size limit, I/O error).
bool WriteAll(int fd, const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    size_t chunk = size - done;
    if (chunk > (1u << 30)) chunk = 1u << 30;
    ssize_t n = write(fd, data + done, chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// The folder part of a path including its last '/', or "" for the current folder.
std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Makes the rename itself durable. Best effort: once the rename has happened
// the new file is in place, and a failure here cannot be undone or mended.
void SyncFolder(const std::string& folder) {
  int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// The mode a newly saved file gets: the old file's, or what creating a file
// would have given (0666 less the umask).
mode_t ModeForSave(bool hadOld, const struct stat& old) {
  if (hadOld) return old.st_mode & 07777;
  mode_t mask = umask(0);  // umask can only be read by setting it; put it back at once
  umask(mask);
  return 0666 & ~mask;
}

// Writes the bytes into a fresh hidden file of `folder`, flushes it to disk
// and renames it over `target`. The temporary file is gone afterwards
// whatever happens.
bool ReplaceFile(const std::string& target, const uint8_t* data, size_t size, mode_t mode) {
  std::string folder = FolderOf(target);
  std::string temp = folder + ".bank-XXXXXX";
  int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) return false;
  fchmod(fd, mode);  // cosmetic: some file systems refuse modes, the data matters
  bool ok = WriteAll(fd, data, size);
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  SyncFolder(folder);
  return true;
}
#endif

}  // namespace

void ClearBanks() {
  for (Bank& bank : gBanks) {
    std::free(bank.data);
    bank.data = nullptr;
    bank.size = 0;
  }
}

const Bank* BankAt(int32_t slot) {
  if (slot < 0 || slot >= kBankSlots) return nullptr;
  return &gBanks[slot];
}

int BankCreate(int32_t size, BankStatus* status) {
  int slot = LowestFreeSlot();
  if (slot < 0) {
    *status = BankStatus::NoSlot;
    return -1;
  }
  if (size < 0) {  // a negative size is a request no memory can satisfy
    *status = BankStatus::OutOfMemory;
    return -1;
  }
  // An empty bank still needs a non-null block to mark its slot taken.
  uint8_t* data = static_cast<uint8_t*>(std::calloc(size > 0 ? static_cast<size_t>(size) : 1, 1));
  if (!data) {
    *status = BankStatus::OutOfMemory;
    return -1;
  }
  gBanks[slot].data = data;
  gBanks[slot].size = size;
  *status = BankStatus::Ok;
  return slot;
}

void BankDelete(int32_t slot) {
  if (slot < 0 || slot >= kBankSlots) return;
  std::free(gBanks[slot].data);
  gBanks[slot].data = nullptr;
  gBanks[slot].size = 0;
}

int32_t BankSizeOf(int32_t slot) {
  const Bank* bank = BankAt(slot);
  return bank ? bank->size : 0;
}

#if !defined(_WIN32)
int BankLoadFile(const char* path, BankStatus* status) {
  int slot = LowestFreeSlot();  // a full table wins over a missing file
  if (slot < 0) {
    *status = BankStatus::NoSlot;
    return -1;
  }
  *status = BankStatus::CannotOpen;
  if (!path) return -1;
  // Non-blocking, so that naming a FIFO cannot hang the game before the
  // regular-file check below turns it away.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat info;
  // Only regular files have a size to load: folders, devices and pipes are
  // files that cannot be opened as a bank.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return -1;
  }
  if (info.st_size > INT32_MAX) {  // the bank's size is a 32-bit count
    close(fd);
    *status = BankStatus::OutOfMemory;
    return -1;
  }
  size_t size = static_cast<size_t>(info.st_size);
  uint8_t* data = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (!data) {
    close(fd);
    *status = BankStatus::OutOfMemory;
    return -1;
  }
  size_t got = 0;
  while (got < size) {
    ssize_t n = read(fd, data + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  if (got < size) {  // the file shrank under us or the disk failed
    std::free(data);
    *status = BankStatus::ShortRead;
    return -1;
  }
  gBanks[slot].data = data;
  gBanks[slot].size = static_cast<int32_t>(size);
  *status = BankStatus::Ok;
  return slot;
}

bool BankSaveFile(int32_t slot, const char* path) {
  const Bank* bank = BankAt(slot);
  if (!bank || !path || !*path) return false;
  std::string target = path;
  // Saving through a symbolic link replaces the file it points to, not the
  // link, just as writing into the file would.
  struct stat link;
  if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
    char* real = realpath(path, nullptr);
    if (!real) return false;
    target = real;
    std::free(real);
  }
  struct stat old{};
  bool hadOld = stat(target.c_str(), &old) == 0;
  if (hadOld) {
    // Folders, devices and pipes are never replaced by a regular file.
    if (!S_ISREG(old.st_mode)) return false;
    // A save file the user made read-only stays protected, as it was when
    // saves wrote into the file itself.
    if (access(target.c_str(), W_OK) != 0) return false;
  }
  // Going over a file size limit must come back as a failed write, not end
  // the process; a signal ignored when it is raised is simply dropped.
  struct sigaction ignore, previous;
  std::memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &previous);
  bool ok = ReplaceFile(target, bank->data, static_cast<size_t>(bank->size), ModeForSave(hadOld, old));
  sigaction(SIGXFSZ, &previous, nullptr);
  return ok;
}
#else
// Windows: the same rules through the Windows file API. Paths are the
// system's own (either separator).

int BankLoadFile(const char* path, BankStatus* status) {
  int slot = LowestFreeSlot();  // a full table wins over a missing file
  if (slot < 0) {
    *status = BankStatus::NoSlot;
    return -1;
  }
  *status = BankStatus::CannotOpen;
  if (!path) return -1;
  // A folder cannot be opened this way at all; devices and pipes can, and
  // are turned away by their type.
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER length;
  if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &length)) {
    CloseHandle(file);
    return -1;
  }
  if (length.QuadPart > INT32_MAX) {  // the bank's size is a 32-bit count
    CloseHandle(file);
    *status = BankStatus::OutOfMemory;
    return -1;
  }
  size_t size = static_cast<size_t>(length.QuadPart);
  uint8_t* data = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (!data) {
    CloseHandle(file);
    *status = BankStatus::OutOfMemory;
    return -1;
  }
  size_t got = 0;
  while (got < size) {
    DWORD n = 0;
    if (!ReadFile(file, data + got, static_cast<DWORD>(size - got), &n, nullptr) || n == 0) break;
    got += n;
  }
  CloseHandle(file);
  if (got < size) {  // the file shrank under us or the disk failed
    std::free(data);
    *status = BankStatus::ShortRead;
    return -1;
  }
  gBanks[slot].data = data;
  gBanks[slot].size = static_cast<int32_t>(size);
  *status = BankStatus::Ok;
  return slot;
}

namespace {

// The folder part of a path including its last separator, or "".
std::string FolderOfWindowsPath(const std::string& path) {
  size_t slash = path.find_last_of("/\\:");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Writes the bytes into a fresh file of the target's folder, flushes it and
// moves it over the target in one step; the temporary file is gone
// afterwards whatever happens.
bool ReplaceFileWin32(const std::string& target, const uint8_t* data, size_t size) {
  std::string folder = FolderOfWindowsPath(target);
  char temp[MAX_PATH];
  if (!GetTempFileNameA(folder.empty() ? "." : folder.c_str(), "bnk", 0, temp)) return false;
  HANDLE file = CreateFileA(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    DeleteFileA(temp);
    return false;
  }
  bool ok = true;
  size_t done = 0;
  while (ok && done < size) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
    DWORD wrote = 0;
    ok = WriteFile(file, data + done, chunk, &wrote, nullptr) && wrote > 0;
    done += wrote;
  }
  ok = ok && FlushFileBuffers(file);
  ok = CloseHandle(file) && ok;
  ok = ok && MoveFileExA(temp, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) DeleteFileA(temp);
  return ok;
}

}  // namespace

bool BankSaveFile(int32_t slot, const char* path) {
  const Bank* bank = BankAt(slot);
  if (!bank || !path || !*path) return false;
  DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    // A folder is never replaced by a file, and a save file the user made
    // read-only stays protected.
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY)) return false;
  }
  return ReplaceFileWin32(path, bank->data, static_cast<size_t>(bank->size));
}
#endif

int BankPeek(int32_t slot, int32_t offset) {
  const uint8_t* bytes = BankBytes(slot, offset, 1);
  return bytes ? bytes[0] : 0;
}

void BankPoke(int32_t slot, int32_t offset, int32_t value) {
  uint8_t* bytes = BankBytes(slot, offset, 1);
  if (bytes) bytes[0] = static_cast<uint8_t>(value & 0xFF);
}

int BankDeek(int32_t slot, int32_t offset) {
  const uint8_t* bytes = BankBytes(slot, offset, 2);
  return bytes ? bytes[0] | (bytes[1] << 8) : 0;  // little-endian, unsigned
}

void BankDoke(int32_t slot, int32_t offset, int32_t value) {
  uint8_t* bytes = BankBytes(slot, offset, 2);
  if (!bytes) return;
  bytes[0] = static_cast<uint8_t>(value & 0xFF);
  bytes[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}
