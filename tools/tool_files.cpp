// File helpers shared by pelto-tool's commands.
#include "tools/tool_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

bool CreateParentFolders(const std::string& path, std::string* problem) {
  fs::path parent = fs::path(path).parent_path();
  if (parent.empty()) return true;
  std::error_code error;
  if (fs::is_directory(parent, error)) return true;
  fs::create_directories(parent, error);
  // create_directories reports an existing folder as no work done, not an
  // error; a file in the way is an error.
  if (error || !fs::is_directory(parent)) {
    std::string reason = error ? error.message() : "a file of that name is in the way";
    *problem = "cannot create folder " + parent.string() + ": " + reason;
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const uint8_t* data, size_t size, std::string* problem) {
  std::string folderProblem;
  if (!CreateParentFolders(path, &folderProblem)) {
    *problem = "cannot write " + path + ": " + folderProblem;
    return false;
  }
  std::string temp = path + ".XXXXXX";
  int fd = mkstemp(&temp[0]);
  if (fd < 0) {
    *problem = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t done = 0;
  bool ok = true;
  while (ok && done < size) {
    ssize_t wrote = write(fd, data + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      ok = false;
    } else {
      done += size_t(wrote);
    }
  }
  // mkstemp makes the file private; outputs are ordinary data files.
  mode_t mask = umask(0);
  umask(mask);
  if (ok) ok = fchmod(fd, 0666 & ~mask) == 0;
  if (close(fd) != 0) ok = false;
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    *problem = "cannot write " + path + ": " + std::strerror(errno);
    unlink(temp.c_str());
  }
  return ok;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* problem) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *problem = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t block[1 << 16];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->insert(bytes->end(), block, block + got);
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) *problem = "cannot read " + path + ": read error";
  return !failed;
}
